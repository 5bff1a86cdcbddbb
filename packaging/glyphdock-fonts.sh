# Japanese UI fonts for a Wine prefix: sourced by the glyphdock launcher (installed as
# <datadir>/glyphdock/fonts.sh) and by the test harness, so both map the same names.
# POSIX sh.
#
# Wine lacks the fonts the program's windows ask for and stands in for each with what
# its matching picks: under the Japanese locale the fixed-pitch IPAGothic, whose 12-pixel
# underscore falls outside the glyph's cell, so "x86_64" reads "x86 64". The prefix's
# own font replacements (HKCU\Software\Wine\Fonts\Replacements) name the IPA face of the
# same widths instead: IPAPGothic for the proportional names, IPAGothic for the fixed
# ones. "MS Sans Serif" is the main window's; asked for in Shift-JIS, Windows gives it a
# proportional Gothic. "MS UI Gothic" is what "MS Shell Dlg", the status line's, menus'
# and message boxes' font, stands for under the Japanese locale.
# A line: the name asked for | that name as the prefix's user.reg spells it | the face.
glyphdock_font_replacements() {
    cat <<'MAP'
ＭＳ Ｐゴシック|\xff2d\xff33 \xff30\x30b4\x30b7\x30c3\x30af|IPAPGothic
MS PGothic|MS PGothic|IPAPGothic
MS UI Gothic|MS UI Gothic|IPAPGothic
MS Sans Serif|MS Sans Serif|IPAPGothic
ＭＳ ゴシック|\xff2d\xff33 \x30b4\x30b7\x30c3\x30af|IPAGothic
MS Gothic|MS Gothic|IPAGothic
MAP
}

# Prints the names whose replacement the prefix $WINEPREFIX lacks, one a line. Read
# from user.reg, without starting Wine (the file is current once the server has ended).
glyphdock_fonts_unmapped() {
    glyphdock_font_replacements | while IFS='|' read -r name spelled face; do
        grep -qF "\"$spelled\"=\"$face\"" "$WINEPREFIX/user.reg" 2>/dev/null || echo "$name"
    done
}

# Sets the replacements in $WINEPREFIX when one is missing, with one "reg import" run
# through the command given (e.g. env LANG=...), or plain wine when none is.
glyphdock_map_fonts() {
    [ -z "$(glyphdock_fonts_unmapped)" ] && return 0
    gd_reg=$(mktemp "${TMPDIR:-/tmp}/glyphdock-fonts.XXXXXX") || return 1
    # The import reads UTF-16 with its byte order mark, whatever the locale.
    {
        printf '\377\376'
        {
            printf 'Windows Registry Editor Version 5.00\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            glyphdock_font_replacements | while IFS='|' read -r name spelled face; do
                printf '"%s"="%s"\r\n' "$name" "$face"
            done
        } | iconv -f UTF-8 -t UTF-16LE
    } > "$gd_reg"
    "$@" wine reg import "$(printf '%s' "$gd_reg" | sed 's|/|\\|g; s|^|Z:|')" >/dev/null 2>&1
    gd_status=$?
    rm -f "$gd_reg"
    return $gd_status
}
