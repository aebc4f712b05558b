#!/usr/bin/env bash
# The manual pages format without warnings and document what an operator looks them up for:
# every command, the exit codes, the environment and the files.
set -euo pipefail
cli_page=$1; gui_page=$2; cli=$3
for page in "$cli_page" "$gui_page"; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$cli_page" 2>/dev/null | col -b)
missing=()
for want in "EXIT STATUS" "ENVIRONMENT" "FILES" "PELMORA_SMB_USER" "PELMORA_SMB_CREDENTIALS" \
            "--mongo" "contracts.json" "timeline.json" "user.pelmora.lock"; do
  grep -qF -- "$want" <<<"$text" || missing+=("$want")
done
# Every command and command group the program lists has its own subsection.
for cmd in $("$cli" --help | awk '/^Subcommands:/{f=1;next} f&&NF==0{f=0} f{print $1}'); do
  grep -qE "^   $cmd\b" <<<"$text" || missing+=("command $cmd")
done
gui_text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$gui_page" 2>/dev/null | col -b)
for want in "--version" "HOST" "pelmora-cli"; do
  grep -qF -- "$want" <<<"$gui_text" || missing+=("pelmora(1): $want")
done
if [ "${#missing[@]}" -ne 0 ]; then
  printf 'missing from the manual pages: %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "manual pages: ok"
