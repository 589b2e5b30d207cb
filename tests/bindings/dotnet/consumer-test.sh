#!/usr/bin/env bash
# A .NET user's project (consumer/), built with xbuild and run with Mono twice:
# against the NuGet package the build made, installed by nuget as a user
# installs it, and against bindings/dotnet/Palavox.Text.csproj as a project
# reference. Each run must print the folded text and the component's version.
#   consumer-test.sh BUILT WORK   BUILT: the build's folder holding the assembly,
#                                 libpalavox.so.1 and Palavox.Text.<version>.nupkg
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
built=$(cd "$1" && pwd) work=$2
version=$(cmake -DPALAVOX_GET=PALAVOX_VERSION -P "$root/cmake/PalavoxIdentity.cmake")
rm -rf "$work" && mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/log
# nuget keeps its settings here rather than in the home folder.
export XDG_CONFIG_HOME=$work/config

step() {
  if ! "$@" >>"$log" 2>&1; then
    echo "dotnet consumer: failed: $*"
    tail -n 40 "$log"
    exit 1
  fi
}

# Builds and runs the consumer laid out in $work/$1 beside what it references.
run() {
  local how=$1
  shift
  cp -r "$root/tests/bindings/dotnet/consumer" "$work/$how/Consumer"
  step xbuild /nologo /p:PalavoxFrom="$how" "$@" "$work/$how/Consumer/Consumer.csproj"
  local got
  got=$(cd "$work" && mono "$work/$how/Consumer/bin/Release/Consumer.exe" 2>&1) || true
  if [ "$got" != "$(printf 'Acao e Reacao\n%s.0' "$version")" ]; then
    echo "dotnet consumer: through the $how, the program printed:"
    echo "$got"
    exit 1
  fi
  echo "dotnet consumer: built with xbuild through the $how, ran: $(tr '\n' ' ' <<<"$got")"
}

mkdir -p "$work/package"
step nuget install Palavox.Text -Version "$version" -Source "$built" -OutputDirectory "$work/package/packages" \
     -ExcludeVersion -NonInteractive -NoCache
run package

# The project's folder as a user takes it from the repository.
mkdir -p "$work/project/Palavox.Text"
(cd "$root/bindings/dotnet" && cp Palavox.Text.csproj PalavoxText.cs AssemblyInfo.cs Palavox.Text.dll.config \
   "$work/project/Palavox.Text/")
run project /p:PalavoxLibrary="$built/libpalavox.so.1"
