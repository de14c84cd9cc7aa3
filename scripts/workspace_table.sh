#!/usr/bin/env bash
# Which engine routine claims which workspace number and scratch area, read
# from the claims in the sources (engine/workspace.h explains them):
#
#   workspace_table.sh           the table, file by file, routine by routine
#   workspace_table.sh --check   fails, naming the lines, when a source
#                                reaches a workspace number or scratch area
#                                other than through a claim
#
# A routine's row lists its claims in the order they are made; "(handed)"
# marks a claim that the caller's covers when it hands the number in,
# "(caller's)" a number the caller fills and claims for it.
set -euo pipefail
cd "$(dirname "$0")/../engine"

# The workspace numbers, from their one list (TORVANE_WORKSPACE_NUMBERS in
# internal.h): kind, name, slot and slots a line.
numbers=$(sed -n 's/^ *X(\([a-z]*\), \([a-z_0-9]*\), \([0-9]*\), \([0-9]*\), .*/\1 \2 \3 \4/p' internal.h)
[[ -n "$numbers" ]] || { echo "no workspace numbers found in internal.h"; exit 1; }
# Those the record holds a pointer to, as an alternation for grep.
fields=$(awk '$1 == "field" || $1 == "indexed" { printf "%s%s", sep, $2; sep = "|" }' <<< "$numbers")

if [[ "${1:-}" == "--check" ]]; then
    # Outside workspace.h (the claims) and state.cpp (where mirsys places
    # the numbers), a workspace number or area is reached only in a claim's
    # line (an area's size may be asked anywhere); the one exception is a
    # precondition naming the accumulator.
    bad=$(grep -nE -- "->($fields)\\b|\\bscratch_words\\(|\\bscratch_number\\(" \
              ./*.cpp ./*.h |
          grep -vE '^\./(workspace\.h|state\.cpp|internal\.h):' |
          grep -vE 'claim|TORVANE_EXPECTS|^[^:]+:[0-9]+: *//' || true)
    if [[ -n "$bad" ]]; then
        echo "workspace numbers or scratch areas reached without a claim:"
        echo "$bad"
        exit 1
    fi
    echo "every workspace number and scratch area is reached through a claim"
    exit 0
fi

echo "workspace numbers (slot: name; * double length, - no claim):"
awk '{ printf "  %2d: %s%s\n", $3, $2, ($4 == 2 ? " *" : "") ($1 == "fixed" ? " -" : "") }' <<< "$numbers"
echo

for file in *.cpp; do
    awk -v file="$file" '
        function flush() {
            if (claims != "") {
                if (!printed) { print file; printed = 1 }
                printf "  %-28s%s\n", routine, claims
            }
            claims = ""
        }
        # A definition at the left margin: the name before its parameter list.
        /^[A-Za-z_][A-Za-z_0-9:<>*& ,]*[ *&]([A-Za-z_][A-Za-z_0-9]*)\(/ && !/;[[:space:]]*$/ {
            flush()
            line = $0
            sub(/\(.*/, "", line)
            n = split(line, words, /[ *&]+/)
            routine = words[n]
        }
        # A class whose members hold a claim.
        /^class [A-Za-z_]+/ { flush(); routine = $2 }
        /claim/ && !/^[[:space:]]*\/\// {
            # One claim a declaration; "c ? a : b" names the two numbers
            # one claim may take.
            mark = ""
            if ($0 ~ /ws::[a-z_0-9]+[^;]*\{/ || $0 ~ /ws::[a-z_0-9]+, *[^)]*==/) mark = " (handed)"
            else if ($0 ~ /ws::[a-z_0-9]+, *true\)/) mark = " (caller'"'"'s)"
            line = $0
            joined = ""
            while (match(line, /ws::[a-z_0-9]+/)) {
                name = substr(line, RSTART + 4, RLENGTH - 4)
                either = substr(line, 1, RSTART - 1) ~ /: *$/
                line = substr(line, RSTART + RLENGTH)
                if (either) { joined = joined " or " name; continue }
                if (joined != "") claims = claims (claims == "" ? "" : ", ") joined mark
                joined = name
            }
            if (joined != "") claims = claims (claims == "" ? "" : ", ") joined mark
            line = $0
            while (match(line, /area_(product|reduce|divide|convert)\)/)) {
                name = substr(line, RSTART + 5, RLENGTH - 6)
                claims = claims (claims == "" ? "" : ", ") "the " name " area"
                line = substr(line, RSTART + RLENGTH)
            }
            if (match($0, /scratch_run_claim [a-z_]+\([0-9]+, *[0-9]+\)/)) {
                range = substr($0, RSTART, RLENGTH)
                sub(/^[^(]*\(/, "", range)
                sub(/\)$/, "", range)
                split(range, ends, /, */)
                claims = claims (claims == "" ? "" : ", ") "scratch" ends[1] " to scratch" ends[2]
            }
        }
        END { flush() }
    ' "$file"
done
