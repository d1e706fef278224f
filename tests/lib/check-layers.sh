#!/usr/bin/env bash
# Includes point down the layers. Every include of a project header names the
# folder the header lives in, and each source folder includes only from itself
# and the libraries its own library links to (docs/ARCHITECTURE.md). Since all
# headers are found from the source root, this check is what keeps a lower
# layer from reaching up.
#   check-layers.sh SOURCE_DIR
set -euo pipefail
cd "$1"

# platform_core: the part of platform/ that uses no Qt, usable by every layer.
core='platform/(Stream|Collation|Memory|MemoryBudget|Exception|CivilDate|ByteOrder|ByteReader)\.h'
platform='platform/[A-Za-z]+\.h'

# The folder (or files) and the include paths allowed there, first match wins.
rules=(
  "platform/ui/|^(platform/ui/[A-Za-z]+\.h|$core)$"
  "platform/(Stream|Collation|Memory|MemoryBudget|Exception|CivilDate|ByteOrder|ByteReader)\.|^$core$"
  "platform/|^$platform$"
  "table/|^(table/[A-Za-z]+\.h|$core)$"
  "formats/bitmap_module/BmmBridge\.|^(formats/[A-Za-z_/]+\.h|imaging/[A-Za-z]+\.h|$platform)$"
  "formats/bitmap_module/|^(formats/bitmap_module/[A-Za-z]+\.h|$core)$"
  "imaging/|^(imaging/[A-Za-z]+\.h|$platform)$"
  "formats/|^(formats/[A-Za-z_/]+\.h|imaging/[A-Za-z]+\.h|$platform)$"
  "grid/|^(grid/[A-Za-z]+\.h|table/[A-Za-z]+\.h|$core)$"
  "view/|^(view/[A-Za-z]+\.h|imaging/[A-Za-z]+\.h|$platform)$"
  "app/FolderWalk\.|^app/FolderWalk\.h$"
  "app/|^(app/|platform/ui/|grid/|view/|formats/|table/|imaging/|platform/)[A-Za-z_/]+\.h$"
  "(tests|bench|fuzz|tools)/|."
)

status=0
while IFS= read -r file; do
  rule=""
  for r in "${rules[@]}"; do
    if [[ $file =~ ^${r%%|*} ]]; then
      rule=${r#*|}
      break
    fi
  done
  while IFS= read -r inc; do
    if [[ $inc != */* ]]; then
      echo "$file: #include \"$inc\" does not name the header's folder"
      status=1
    elif [[ ! -f $inc ]]; then
      echo "$file: #include \"$inc\" names no file below the source root"
      status=1
    elif [[ ! $inc =~ $rule ]]; then
      echo "$file: #include \"$inc\" reaches outside the layers below ${file%/*}/"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find platform table imaging formats grid view app tests bench fuzz tools \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) -not -path '*/corpus/*' | sort)
[ $status -eq 0 ] && echo "includes keep to the layers"
exit $status
