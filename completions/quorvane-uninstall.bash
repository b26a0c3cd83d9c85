# bash completion for quorvane-uninstall: its options, and after --id or -i
# the identifiers of the installed items, as the text listing shows them,
# taken from the tool's own JSON listing. Written for bash 3.2, the
# /bin/bash of macOS: scripts/lint.sh refuses the bash 4 constructs.

# The identifiers of the visible items below visible ones, one a line. The
# listing is indented by two spaces a level and writes "identifier" before
# "visible"; an item's keys are indented deeper than those of the item above
# it. Identifiers that are not plain text (escapes, or Base64 for bytes that
# are not UTF-8) are left out.
_quorvane_uninstall_identifiers() {
    "$1" --list --json 2>/dev/null | awk '
        /^ *"identifier": / {
            identifier = ""
            if (match($0, /^ *"identifier": "[^"\\]*",?$/)) {
                identifier = $0
                sub(/^ *"identifier": "/, "", identifier)
                sub(/",?$/, "", identifier)
            }
        }
        /^ *"visible": / {
            match($0, /^ */)
            if (hidden && RLENGTH > hidden) next
            hidden = 0
            if ($0 ~ /true/) {
                if (identifier != "") print identifier
            } else {
                hidden = RLENGTH
            }
        }'
}

_quorvane_uninstall() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()

    # "=" breaks words: "--id=AB" arrives as "--id" "=" "AB".
    local wants_identifier=
    if [[ $cur == = && $prev == --id ]]; then
        cur= wants_identifier=1
    elif [[ $prev == = && ${COMP_WORDS[COMP_CWORD-2]} == --id ]]; then
        wants_identifier=1
    elif [[ $prev == --id || $prev == -i ]]; then
        wants_identifier=1
    fi

    if [[ $wants_identifier ]]; then
        local identifier
        while IFS= read -r identifier; do
            if [[ $identifier == "$cur"* ]]; then
                COMPREPLY+=("$(printf '%q' "$identifier")")
            fi
        done < <(_quorvane_uninstall_identifiers "$1")
    elif [[ $cur == -* ]]; then
        local options="--all --dry-run --gui --help --id --json --list --verbose --version
            -a -g -h -i -l -n -v"
        local option
        while IFS= read -r option; do
            COMPREPLY+=("$option")
        done < <(compgen -W "$options" -- "$cur")
    fi
}

complete -F _quorvane_uninstall quorvane-uninstall
