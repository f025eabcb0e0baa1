#!/usr/bin/env bash
# Prints the file list of the Windows installer (packaging/windows/zpitool.nsi) for the files
# of a folder: ZPI_INSTALL_FILES puts each one in place under $INSTDIR, ZPI_UNINSTALL_FILES
# deletes each one and then each folder, deepest first, where it is left empty.
#
#   scripts/nsis-files.sh FOLDER > files.nsh
set -euo pipefail
folder=$(cd "$1" && pwd)
windows() { local path=${1//\//\\}; echo "\$INSTDIR${path:+\\$path}"; }

echo '!macro ZPI_INSTALL_FILES'
while IFS= read -r dir; do
  dir=${dir#.}; dir=${dir#/}
  echo "  SetOutPath \"$(windows "$dir")\""
  while IFS= read -r file; do
    echo "  File \"$folder/${dir:+$dir/}$file\""
  done < <(cd "$folder/$dir" && find . -maxdepth 1 -type f -printf '%P\n' | LC_ALL=C sort)
done < <(cd "$folder" && find . -type d | LC_ALL=C sort)
echo '!macroend'

echo '!macro ZPI_UNINSTALL_FILES'
while IFS= read -r file; do
  echo "  Delete \"$(windows "$file")\""
done < <(cd "$folder" && find . -type f -printf '%P\n' | LC_ALL=C sort)
while IFS= read -r dir; do
  echo "  RMDir \"$(windows "$dir")\""
done < <(cd "$folder" && find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort -r)
echo '!macroend'
