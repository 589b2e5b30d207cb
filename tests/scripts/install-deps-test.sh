#!/usr/bin/env bash
# scripts/install-deps against stand-ins for apt-get, dpkg and dpkg-query
# first on PATH, whose index update fails as a mirror in mid-update does
# (exit 100): it goes on when nothing is missing or the lists at hand can
# install what is, stops naming what they cannot, treats wine32:i386 as
# optional, tries the update once a run, and believes dpkg, not apt.
#   tests/scripts/install-deps-test.sh <scratch folder>
set -uo pipefail
# The settings of whoever runs this are not the cases'.
unset PALAVOX_NO_I386 PALAVOX_DEPS_RUN PALAVOX_DEPS_STATE PALAVOX_DEPS_PAUSE PALAVOX_TEST_RUNS_32BIT
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(realpath -m "${1:?scratch folder}")
rm -rf "$work" && mkdir -p "$work/bin"
fake=$work/fake

# The stand-ins keep their state in $fake: missing (not installed),
# unavailable (not in the lists), lies (apt installs them, dpkg never lists
# them), update (ok or fail), arches, and calls (what was run).
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE/calls"
if [ "$1" = update ]; then
  [ "$(cat "$FAKE/update")" = ok ] && exit 0
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
[ "$1" = install ] || exit 2
shift
simulate=
pkgs=()
for a; do
  case "$a" in -s) simulate=1 ;; -*) ;; *) pkgs+=("$a") ;; esac
done
status=0
for p in "${pkgs[@]}"; do
  if grep -qxF "$p" "$FAKE/unavailable"; then
    echo "E: Unable to locate package $p"
    status=100
  fi
done
[ $status -eq 0 ] || exit $status
for p in "${pkgs[@]}"; do
  [ -n "$simulate" ] && echo "Inst $p" && continue
  grep -qxF "$p" "$FAKE/lies" || { grep -vxF "$p" "$FAKE/missing" >"$FAKE/m"; mv "$FAKE/m" "$FAKE/missing"; }
done
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
pkg=${!#}
if grep -qxF "$pkg" "$FAKE/missing"; then
  echo "dpkg-query: no packages found matching $pkg" >&2
  exit 1
fi
printf 'install ok installed'
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE/calls"
case "$1" in
  --print-foreign-architectures) cat "$FAKE/arches" ;;
  --add-architecture) echo "$2" >>"$FAKE/arches" ;;
  *) exit 2 ;;
esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

passed=0
failed=0
fail() { echo "FAIL $name: $*"; sed 's/^/    /' "$work/out" | head -n 30; failed=$((failed + 1)); }

# Sets up the stand-ins for one case.
#   given <missing> <unavailable> <update> [lies] [arches]
given() {
  rm -rf "$fake" && mkdir -p "$fake"
  printf '%s\n' $1 >"$fake/missing"
  printf '%s\n' $2 >"$fake/unavailable"
  echo "$3" >"$fake/update"
  printf '%s\n' ${4:-} >"$fake/lies"
  printf '%s\n' ${5:-} >"$fake/arches"
  : >"$fake/calls"
}

# Runs install-deps as make would, in run <run id>; its output in $work/out.
#   deps <run id> <runs 32-bit: 0|1> [VAR=value...] -- <groups...>
deps() {
  local run=$1 runs32=$2
  shift 2
  local vars=()
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  shift
  env PATH="$work/bin:$PATH" FAKE="$fake" PALAVOX_DEPS_STATE="$fake/state" PALAVOX_DEPS_PAUSE=0 \
    PALAVOX_DEPS_RUN="$run" PALAVOX_TEST_RUNS_32BIT="$runs32" "${vars[@]}" \
    "$root/scripts/install-deps" "$@" >"$work/out" 2>&1
}

# Checks the last run: exit status, how many index updates, what it said, what is still missing.
#   expect <status> <updates> <output pattern or -> <missing after>
expect() {
  local updates left
  updates=$(grep -c '^apt-get update' "$fake/calls")
  left=$(grep . "$fake/missing" | tr '\n' ' ')
  if [ "$status" -ne "$1" ]; then fail "exit $status, expected $1"
  elif [ "$updates" -ne "$2" ]; then fail "$updates index updates, expected $2"
  elif [ "$3" != - ] && ! grep -Eq -- "$3" "$work/out"; then fail "no line matching: $3"
  elif [ "${left% }" != "$4" ]; then fail "still missing: '${left% }', expected '$4'"
  else passed=$((passed + 1))
  fi
}

mirror='Mirror sync in progress\?'
#    name                              missing                  unavailable   update lies   32  vars               groups          status updates said                                                   missing after
row() {
  name=$1
  given "$2" "$3" "$4" "$5" "i386"
  deps "run-$name" "$6" $7 -- $8
  status=$?
  expect "$9" "${10}" "${11}" "${12}"
}
row "nothing missing"                   ""                       ""            fail   ""     1  ""                 ""              0 0 -                                                      ""
row "lists at hand install it"          "clang cmake"            ""            fail   ""     1  ""                 "native"        0 4 "going on with the lists at hand"                      ""
row "the registry's words"              "clang cmake"            ""            fail   ""     1  ""                 "native"        0 4 "$mirror"                                              ""
row "what cannot be had is named"       "clang cmake"            "cmake"       fail   ""     1  ""                 "native"        1 4 "^  cmake:"                                             "clang cmake"
row "and why, in apt's words"           "clang cmake"            "cmake"       fail   ""     1  ""                 "native"        1 4 "Unable to locate package cmake"                       "clang cmake"
row "and the update's failure"          "clang cmake"            "cmake"       fail   ""     1  ""                 "native"        1 4 "could not be updated, which may be why"              "clang cmake"
row "an update that works, once"        "clang"                  ""            ok     ""     1  ""                 "native"        0 1 "installing clang"                                     ""
row "apt says yes, dpkg says no"        "clang"                  ""            ok     "clang" 1 ""                 "native"        1 1 "still not installed"                                  "clang"
row "a group asked for, not another"    "wine64"                 ""            ok     ""     1  ""                 "native"        0 0 -                                                      "wine64"
row "i386 not to be had: goes on"       "wine32:i386"            "wine32:i386" fail   ""     1  ""                 "windows"       0 1 "not installing wine32:i386: it cannot be had now"     "wine32:i386"
row "i386: apt's words for it"          "wine32:i386"            "wine32:i386" fail   ""     1  ""                 "windows"       0 1 "Unable to locate package wine32:i386"                 "wine32:i386"
row "i386: which index, and why"        "wine32:i386"            "wine32:i386" fail   ""     1  ""                 "windows"       0 1 "the index bookworm-security/main/binary-i386 could not be updated: File has unexpected size" "wine32:i386"
row "i386 and required: required in"    "wine64 wine32:i386"     "wine32:i386" fail   ""     1  ""                 "windows"       0 4 "not installing wine32:i386"                           "wine32:i386"
row "i386 where no 32-bit program runs" "wine32:i386"            ""            ok     ""     0  ""                 "windows"       0 0 "this machine runs no 32-bit program"                  "wine32:i386"
row "i386 left out on purpose"          "wine32:i386"            ""            ok     ""     1  "PALAVOX_NO_I386=1" "windows"      0 0 "PALAVOX_NO_I386=1"                                    "wine32:i386"
row "i386 to be had is installed"       "wine32:i386"            ""            ok     ""     1  ""                 "windows"       0 1 "installing wine32:i386"                               ""
row "an unknown group"                  ""                       ""            ok     ""     1  ""                 "nonsense"      2 0 "unknown group 'nonsense'"                             ""

# One make run: the failing update tried at its first call only, the i386
# verdict said once, and the update's failure still named at a later call.
name="once a run"
given "clang wine64 wine32:i386" "wine32:i386 gdb" fail "" "i386"
calls() { grep -c "^apt-get $1" "$fake/calls"; }
deps same 1 -- native; s1=$?
deps same 1 -- windows; s2=$?
said=$(grep -c 'not installing wine32' "$work/out")
before=$(calls install)
deps same 1 -- windows; s3=$?
if [ $s1 -ne 0 ] || [ $s2 -ne 0 ] || [ $s3 -ne 0 ]; then fail "exits $s1, $s2, $s3"
elif [ "$(calls update)" -ne 4 ]; then fail "$(calls update) updates in one run, expected 4"
elif [ "$said" -ne 1 ] || grep -q 'not installing' "$work/out"; then fail "the i386 verdict not said exactly once"
elif [ "$(calls install)" -ne "$before" ]; then fail "the i386 packages tried again in the same run"
elif [ -n "$(grep . "$fake/missing" | grep -v wine32)" ]; then fail "not installed: $(cat "$fake/missing")"
else passed=$((passed + 1))
fi
name="a failed update named later in the run"
echo cmake >>"$fake/missing"
echo cmake >>"$fake/unavailable"
deps same 1 -- native
status=$?
updates=$(calls update)
if [ $status -ne 1 ]; then fail "exit $status, expected 1"
elif [ "$updates" -ne 4 ]; then fail "updated again"
elif ! grep -q 'the update failed earlier in this run' "$work/out"; then fail "the failed update not named"
else passed=$((passed + 1))
fi
name="a new run tries the update again"
deps another 1 -- windows
[ "$(calls update)" -eq 5 ] && passed=$((passed + 1)) || fail "$(calls update) updates, expected 5"

# The i386 architecture is added only when the packages are to be tried.
name="i386 architecture added to try"
given "wine32:i386" "" ok "" ""
deps arch 1 -- windows
grep -q '^dpkg --add-architecture i386' "$fake/calls" && passed=$((passed + 1)) || fail "not added"
name="i386 architecture left alone"
given "wine32:i386" "" ok "" ""
deps arch 0 -- windows
grep -q 'add-architecture' "$fake/calls" && fail "added on a machine that runs no 32-bit program" || passed=$((passed + 1))

# What the 32-bit stages then say.
why() {
  env PALAVOX_DEPS_STATE="$fake/state" PALAVOX_WINE32=/nonexistent/wine PALAVOX_TEST_RUNS_32BIT="$1" \
    bash -c ". '$root/scripts/wine-env.sh'; palavox_wine32_why_not; palavox_wine32_runs && echo runs"
}
name="NOT RUN reason: not to be had"
given "wine32:i386" "wine32:i386" fail "" "i386"
deps why 1 -- windows
[ "$(why 1)" = "32-bit Wine (wine32:i386) is not installed: it cannot be had now (the index bookworm-security/main/binary-i386 could not be updated: File has unexpected size (374820 != 376004). Mirror sync in progress?)" ] &&
  passed=$((passed + 1)) || { echo "  got: $(why 1)" >"$work/out"; fail "wrong reason"; }
name="NOT RUN reason: no 32-bit kernel"
[ "$(why 0)" = "this machine runs no 32-bit program (kernel without ia32 emulation)" ] &&
  passed=$((passed + 1)) || { echo "  got: $(why 0)" >"$work/out"; fail "wrong reason"; }
name="the kernel probe itself"
# Whatever this machine is, the probe answers, and only 42 counts as running.
( . "$root/scripts/wine-env.sh"; palavox_kernel_runs_32bit; echo $? ) | grep -qx '[01]' &&
  passed=$((passed + 1)) || fail "no answer"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
