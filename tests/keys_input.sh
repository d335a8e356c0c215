#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# quillo-keys under bad and large input: each case gives the right output or a
# clear error (exit 2 and one printable line on stderr naming the line),
# never a crash. Usage: keys_input.sh QUILLO_KEYS
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

result() { # NAME PROBLEM ('' when the case passed)
    if [[ -z $2 ]]; then
        passed=$((passed + 1))
        return
    fi
    failed=$((failed + 1))
    echo "FAIL $1: $2"
    echo "  stdout: $(head -c 300 "$work/out" | cat -v)"
    echo "  stderr: $(head -c 300 "$work/err" | cat -v)"
}

# check NAME EXIT STDOUT STDERR < input
# STDOUT is a printf format for the whole output; STDERR the one line wanted
# after "quillo-keys: ", or '' for none.
check() {
    local rc=0 problem=
    "$tool" >"$work/out" 2>"$work/err" || rc=$?
    printf "$3" >"$work/want"
    if [[ $rc -ne $2 ]]; then
        problem="exit $rc, wanted $2"
    elif ! cmp -s "$work/out" "$work/want"; then
        problem="stdout is not: $3"
    elif [[ -z $4 && -s $work/err ]]; then
        problem="stderr is not empty"
    elif [[ -n $4 ]] && { [[ $(wc -l <"$work/err") -ne 1 ]] ||
        ! LC_ALL=C grep -Fxq "quillo-keys: $4" "$work/err"; }; then
        problem="stderr is not the one line: quillo-keys: $4"
    fi
    result "$1" "$problem"
}

ones=$(printf '1%.0s' {1..40})
blanks=$(printf ' %.0s' {1..39})
big=10000000 # 10 MB

#     name                           exit  stdout                       stderr
check "unknown caption"              2     '1\t|1.|\n'                  "line 2: unknown key caption 'plus'" < <(printf '1\nplus\n2\n')
check "captions are case-sensitive"  2     ''                           "line 1: unknown key caption 'sqrt'" < <(printf 'sqrt\n')
check "two keys on one line"         2     ''                           "line 1: unknown key caption '1 2'" < <(printf '1 2\n')
check "blank lines are counted"      2     '7\t|7.|\n'                  "line 5: unknown key caption 'x^'" < <(printf '\n \n7\n\t\nx^\n')
check "empty input"                  0     ''                           '' < <(printf '')
check "blank lines only"             0     ''                           '' < <(printf '\n \r\n\t\n')
check "no newline at the end"        0     '4\t|4.|\nx^2\t| 16|\n'      '' < <(printf '4\nx^2')
check "CRLF line ends"               0     '1\t|1.|\n+\t|1.|\n2\t|2.|\n=\t|3|\n' '' < <(printf '1\r\n+\r\n2\r\n=\r\n')
check "CR alone ends no line"        2     ''                           "line 1: unknown key caption '1?+?2'" < <(printf '1\r+\r2\r')
check "NUL line"                     2     '1\t|1.|\n'                  "line 2: unknown key caption '?'" < <(printf '1\n\0\n2\n')
check "NUL after a key"              2     ''                           "line 1: unknown key caption '1?'" < <(printf '1\0\n')
check "0xff and a terminal escape"   2     ''                           "line 1: unknown key caption '??[2J'" < <(printf '\xff\x1b[2J\n')
check "byte order mark"              2     ''                           "line 1: unknown key caption '???1'" < <(printf '\xef\xbb\xbf1\n')
check "10 MB line"                   2     ''                           "line 1: unknown key caption '$ones...'" < <(head -c $big /dev/zero | tr '\0' 1)
check "10 MB of NUL bytes"           2     ''                           "line 1: unknown key caption '${ones//1/?}...'" < <(head -c $big /dev/zero)
check "key amid 10 MB of blanks"     0     '7\t|7.|\n'                  '' < <(head -c $big /dev/zero | tr '\0' ' '; printf '7'; head -c $big /dev/zero | tr '\0' ' ')
check "text after 10 MB of blanks"   2     ''                           "line 1: unknown key caption '7$blanks...'" < <(printf '7'; head -c $big /dev/zero | tr '\0' ' '; printf 'x\n')

# A million keys, made here: "1 +" adds up to 500000, one line a key.
awk 'BEGIN { for (i = 0; i < 500000; i++) print "1\n+" }' >"$work/million"
rc=0
"$tool" <"$work/million" >"$work/out" 2>"$work/err" || rc=$?
problem=
if [[ $rc -ne 0 || -s $work/err ]]; then
    problem="exit $rc"
elif [[ $(wc -l <"$work/out") -ne 1000000 ]]; then
    problem="$(wc -l <"$work/out") output lines"
elif [[ $(grep -cFx $'1\t|1.|' "$work/out") -ne 500000 ]]; then
    problem="not every 1 shows 1."
elif [[ $(tail -n 1 "$work/out") != $'+\t|500000|' ]]; then
    problem="last line $(tail -n 1 "$work/out" | cat -v)"
fi
result "a million keys" "$problem"

# Input that cannot be read and output that cannot be written are failures.
rc=0
"$tool" </ >"$work/out" 2>"$work/err" || rc=$?
[[ $rc -eq 1 ]] && grep -Fxq "quillo-keys: cannot read the input" "$work/err"
result "unreadable input" "$([[ $? -eq 0 ]] || echo "exit $rc")"
if [[ -w /dev/full ]]; then
    rc=0
    "$tool" <"$work/million" >/dev/full 2>"$work/err" || rc=$?
    : >"$work/out"
    [[ $rc -eq 1 ]] && grep -Fxq "quillo-keys: cannot write the output" "$work/err"
    result "output to a full disk" "$([[ $? -eq 0 ]] || echo "exit $rc")"
    # A bad line after output that could not be written: the lost output counts.
    rc=0
    printf '1\nbogus\n' | "$tool" >/dev/full 2>"$work/err" || rc=$?
    [[ $rc -eq 1 ]] && grep -Fxq "quillo-keys: cannot write the output" "$work/err"
    result "bad line, output to a full disk" "$([[ $? -eq 0 ]] || echo "exit $rc")"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
