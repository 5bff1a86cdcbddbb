#include "collect/iconfilecheck.h"

// First cut: every file passes until the bounded walk is in place.
bool IconSourceIsSound(std::uint64_t, const TReadAt&) { return true; }

bool IconFileIsSound(const std::string&) { return true; }
