#!/usr/bin/env bash
# Runs the shell examples of one section of the user guide as the guide gives
# them and compares what they print with the output pasted under each.
#
# Usage: guide_examples.sh GUIDE.md "SECTION TITLE" BIN_DIR SOURCE_DIR
#
# In the section, every indented block is either commands or the output of the
# commands just before it: they alternate, commands first. The commands run in
# bash in a folder of their own laid out as the project's folder after
# scripts/build (build/bin is this build's program folder, examples/ the
# project's), with stdout and stderr together, each block under a timeout.
#
# What the comparison lets vary, and why:
#  - An output block that starts with a line "..." shows only the end of what
#    is printed: the lines before it (the live run's log, with the clock's
#    times, and its summary) are not compared.
#  - "N samples checked" of outputs that follow a live recording: how many
#    samples a live run of a few seconds receives depends on when the blocks
#    arrive. The claim that does not vary is kept: between two outputs of the
#    same recording, each channel's count differs by what the guide's counts
#    differ by (the 250 samples cut out), and every other word and number of
#    those lines is compared as it stands.
# Everything else is compared byte for byte (the render of a configuration
# has no clock: its figures do not vary).
set -uo pipefail

guide=$(realpath "$1")
section=$2
bin=$(realpath "$3")
src=$(realpath "$4")
step_timeout=${GUIDE_STEP_TIMEOUT:-90}

command -v sox >/dev/null || { echo "sox is not installed (scripts/bootstrap installs it)"; exit 77; }
[ -x "$bin/recorder" ] || { echo "no recorder in $bin"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/guide-examples-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project/build" "$work/home" "$work/blocks"
ln -s "$bin" "$work/project/build/bin"
ln -s "$src/examples" "$work/project/examples"
# Nothing of the user's: settings, the remote module's port and token.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
export ORVANE_PORT=0 ORVANE_TOKEN_FILE=$work/home/orvane-token
unset TOLVEX_INI

# The section's indented blocks, one file each, the indentation taken off.
awk -v title="## $section" -v out="$work/blocks" '
    $0 == title { inside = 1; next }
    inside && /^## / { inside = 0 }
    !inside { next }
    /^    / { if (!open) { n++; open = 1 } print substr($0, 5) > (out "/" n); next }
    { open = 0 }
    END { print n > (out "/count") }
' "$guide"
count=$(cat "$work/blocks/count" 2>/dev/null || echo 0)
if [ "$count" -lt 2 ] || [ $((count % 2)) -ne 0 ]; then
    echo "section \"$section\" of $guide: expected pairs of command and output blocks, found $count blocks"
    exit 1
fi

# "NAME: N samples checked" -> "NAME N" for each line of a file.
counts() { sed -n 's/^\(.*\): \([0-9][0-9]*\) samples checked.*/\1\t\2/p' "$1"; }
# The lines with the counts of samples checked masked.
masked() { sed 's/: [0-9][0-9]* samples checked/: N samples checked/' "$1"; }

failed=0
live=0 # a live recording has been made by an earlier block
first_live_expected= first_live_actual=
for ((i = 1; i < count; i += 2)); do
    commands=$work/blocks/$i
    expected=$work/blocks/$((i + 1))
    actual=$work/actual.$i
    (cd "$work/project" && timeout -k 5 "$step_timeout" bash "$commands") >"$actual" 2>&1 </dev/null
    status=$?
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        echo "== block $i did not end within $step_timeout s:"
        cat "$commands"
        failed=1
        continue
    fi
    # The output shown may be the end of what is printed.
    if [ "$(head -1 "$expected")" = "..." ]; then
        tail -n +2 "$expected" >"$expected.shown"
        tail -n "$(wc -l <"$expected.shown")" "$actual" >"$actual.shown"
    else
        cp "$expected" "$expected.shown"
        cp "$actual" "$actual.shown"
    fi
    # A live run: the program with options, not one of its commands.
    grep -qE '^ *build/bin/recorder -' "$commands" && live=1
    if [ $live -eq 1 ]; then
        if ! diff -u --label "guide (block $((i + 1)))" --label "printed" \
            <(masked "$expected.shown") <(masked "$actual.shown"); then
            failed=1
        elif [ -z "$first_live_expected" ]; then
            first_live_expected=$expected.shown first_live_actual=$actual.shown
        else
            # The same recording: each channel's count moves as the guide's does.
            if ! diff -u --label "guide: counts against block of the live run" --label "printed" \
                <(join -t $'\t' <(counts "$first_live_expected" | sort) <(counts "$expected.shown" | sort) |
                    awk -F '\t' '{ print $1 ": " $2 - $3 }') \
                <(join -t $'\t' <(counts "$first_live_actual" | sort) <(counts "$actual.shown" | sort) |
                    awk -F '\t' '{ print $1 ": " $2 - $3 }'); then
                failed=1
            fi
        fi
    elif ! diff -u --label "guide (block $((i + 1)))" --label "printed" "$expected.shown" "$actual.shown"; then
        failed=1
    fi
    if [ $failed -ne 0 ]; then
        echo "== the commands (block $i):"
        cat "$commands"
        echo "== all they printed:"
        cat "$actual"
        exit 1
    fi
done
echo "$((count / 2)) examples of \"$section\" print what the guide shows"
