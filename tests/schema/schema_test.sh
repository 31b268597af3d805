#!/bin/sh
# The XML schemas against the files mkld reads:
# - every XML file under examples/ names its schema with an xml-model
#   processing instruction and validates against it;
# - every valid test input validates (the invalid ones are listed below,
#   each with its reason);
# - each file in disagreements/ documents, in its first comment, a case where
#   the schema and mkld judge a file differently: what the schema says (with
#   the name it reports), mkld's exit status, and what mkld's script holds.
#
# Usage: schema_test.sh <mkld> <source folder> <scratch folder>
set -u
mkld=$1 source=$2 work=$3
schemas=$source/schema
here=$source/tests/schema
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work" && mkdir -p "$work" || exit 1

# The schema a file declares with <?xml-model href="..."?>, as a path.
declared_schema() {
  href=$(sed -n 's/.*<?xml-model href="\([^"]*\)".*/\1/p' "$1" | head -n 1)
  [ -n "$href" ] || return 1
  case $href in /*) echo "$href" ;; *) echo "$(dirname "$1")/$href" ;; esac
}

validate() {  # file schema
  xmllint --noout --schema "$2" "$1" >"$work/xmllint.out" 2>&1 ||
    fail "$1 does not validate against $(basename "$2"):
$(cat "$work/xmllint.out")"
}

# File names may hold blanks: read them line by line.
find "$source/examples" -name '*.xml' | sort >"$work/examples"
while IFS= read -r file; do
  if schema=$(declared_schema "$file"); then
    validate "$file" "$schema"
  else
    fail "$file has no <?xml-model href=...?>"
  fi
done <"$work/examples"

# Test inputs that are not meant to be valid XML, and why.
invalid_inputs="
e2e/cases/bytes_pass_through/map.xml                 Latin-1 bytes without an encoding declaration
e2e/cases/bytes_pass_through/place.xml               Latin-1 bytes without an encoding declaration
e2e/cases/hostile_bytes_in_names/map.xml             bytes that are no text in any encoding
e2e/cases/hostile_bytes_in_names/place.xml           bytes that are no text in any encoding
e2e/cases/hostile_nul_inside_tag/map.xml             a NUL byte inside a tag
e2e/cases/error_unparsable_memory_map/map.xml        not well-formed: mkld fails to load it too
e2e/cases/error_unparsable_placement/place.xml       not well-formed: mkld fails to load it too
e2e/cases/dependency_file_lists_files_read/parts/broken.xml  not well-formed: the include fails in mkld too
e2e/cases/diagnostics_closing_quote_missing/map.xml  a mistake -diagnostics locates: a closing quote missing
e2e/cases/diagnostics_attribute_without_name/map.xml  a mistake -diagnostics locates: an attribute with no name
e2e/cases/diagnostics_empty_file/map.xml             a mistake -diagnostics locates: no element
e2e/cases/diagnostics_end_of_file_inside_element/place.xml  a mistake -diagnostics locates: an end tag missing
e2e/cases/diagnostics_error_in_included_file/parts/stack.xml  a mistake -diagnostics locates: a mismatched end tag
e2e/cases/diagnostics_mismatched_end_tag/place.xml   a mistake -diagnostics locates: a mismatched end tag
e2e/cases/diagnostics_new_user_mistakes/map.xml      mistakes -diagnostics locates: a misspelt attribute
e2e/cases/diagnostics_new_user_mistakes/place.xml    mistakes -diagnostics locates: misspelt names, an unquoted value
e2e/cases/diagnostics_preprocessor_warnings/place.xml  mistakes -diagnostics locates: misspelt attributes
e2e/cases/diagnostics_attribute_values/map.xml       a mistake -diagnostics locates: an access misspelt
e2e/cases/diagnostics_attribute_values/place.xml     mistakes -diagnostics locates: alignments and yes/no values
e2e/cases/diagnostics_attribute_positions/map.xml    mistakes -diagnostics locates: attributes on continuation lines
e2e/cases/diagnostics_attribute_positions/place.xml  mistakes -diagnostics locates: attributes on continuation lines
e2e/cases/diagnostics_end_tag_prefix/place.xml      mistakes -diagnostics locates: end tags that name a prefix
e2e/cases/diagnostics_unterminated_attribute_value/place.xml  a mistake -diagnostics locates: an unterminated value
e2e/cases/diagnostics_unterminated_comment/place.xml  a mistake -diagnostics locates: an unterminated comment
"
# Placement files use the placement schema; all other inputs (memory maps and
# the fragments they include) the memory-map schema, which takes every
# element of the placement file too.
(cd "$source/tests" && find . -name '*.xml' ! -path './schema/*') | sed 's|^\./||' | sort >"$work/inputs"
while IFS= read -r file; do
  echo "$invalid_inputs" | grep -q "^$file " && continue
  case $(basename "$file") in
    *place*) schema=$schemas/mkld-placement.xsd ;;
    *) schema=$schemas/mkld-memory-map.xsd ;;
  esac
  validate "$source/tests/$file" "$schema"
done <"$work/inputs"

for file in "$here"/disagreements/*.xml; do
  name=$(basename "$file" .xml)
  header() { sed -n "s/^$1: //p" "$file" | head -n 1; }
  if grep -q Linker_Placement_File "$file"; then
    schema=$schemas/mkld-placement.xsd
    set -- -memory-map-segments "FLASH RX 0x0 0x10000;RAM RWX 0x20000000 0x4000" -section-placement-file "$file"
  else
    schema=$schemas/mkld-memory-map.xsd
    set -- -memory-map-file "$file"
  fi
  rejected=$(header "schema rejects")
  if xmllint --noout --schema "$schema" "$file" >"$work/xmllint.out" 2>&1; then
    [ -z "$rejected" ] || fail "$name: the schema accepts it"
  elif [ -z "$rejected" ]; then
    fail "$name: the schema rejects it: $(cat "$work/xmllint.out")"
  elif ! grep -qF -- "$rejected" "$work/xmllint.out"; then
    fail "$name: the schema's message lacks '$rejected': $(cat "$work/xmllint.out")"
  fi

  "$mkld" "$@" "$work/$name.ld" >/dev/null 2>"$work/mkld.err"
  status=$?
  [ "$status" = "$(header "mkld status")" ] || fail "$name: mkld exits with $status: $(cat "$work/mkld.err")"
  has=$(header "script has") lacks=$(header "script lacks")
  [ -z "$has" ] || grep -qF -- "$has" "$work/$name.ld" || fail "$name: the script lacks '$has'"
  [ -z "$lacks" ] || ! grep -qF -- "$lacks" "$work/$name.ld" || fail "$name: the script has '$lacks'"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
