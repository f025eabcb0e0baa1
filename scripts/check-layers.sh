#!/usr/bin/env bash
# The folders are layers: a folder includes only the folders below it, and Qt appears only in
# the window's folder (app/) and the window's tests. Prints what each folder may include and
# every include that breaks the rule; exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# What each folder may include, lowest first. sim/ is the simulated unit: it uses the frame
# format and the configuration record, never the tool, so that it stays an independent check.
declare -A below=(
  [serial]=""
  [protocol]=""
  [config]=""
  [release]=""
  [update]=""
  [transfer]="protocol config"
  [service]="serial protocol config transfer"
  [app]="service serial protocol config transfer release update"
  [ctl]="service serial protocol config transfer update"
  [sim]="protocol config"
)
order=(serial protocol config release update transfer service app ctl sim)
# Where Qt may appear besides app/: the window's tests and the benchmark that drives it.
qt_tests='^tests/(gui|bench)/|^tests/support/(gui_|service_fixture)'

echo "Layers (a folder may include):"
for folder in "${order[@]}"; do
  printf '  %-9s %s\n' "$folder/" "${below[$folder]:-(nothing of the project)}"
done

faults=()
while IFS= read -r file; do
  folder=${file%%/*}
  while IFS= read -r include; do
    target=${include%%/*}
    if [ "$folder" = tests ] || [ "$folder" = fuzz ]; then
      continue
    elif [ "$target" != "$folder" ] && [ -n "${below[$target]+x}" ] &&
         [[ " ${below[$folder]} " != *" $target "* ]]; then
      faults+=("$file includes \"$include\": $target/ is not below $folder/")
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  if [ "$folder" != app ] && ! [[ "$file" =~ $qt_tests ]] &&
     grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
    faults+=("$file includes Qt, which only the window (app/) and its tests may use")
  fi
done < <(git ls-files -- '*.h' '*.cpp' | grep -E "^($(IFS='|'; echo "${order[*]}")|tests|fuzz)/")

# Qt in the build files: only the window's folder and the tests link it.
while IFS= read -r file; do
  case "$file" in app/*|tests/*|cmake/*) continue ;; esac
  if grep -q 'Qt6::' "$file"; then faults+=("$file links Qt, which only the window (app/) may use"); fi
done < <(git ls-files -- '*CMakeLists.txt')

if [ ${#faults[@]} -gt 0 ]; then
  echo "Includes that break the layers:"
  printf '  %s\n' "${faults[@]}"
  exit 1
fi
echo "Every include keeps to the layers; Qt only in app/ and the window's tests."
