#!/usr/bin/env bash
# The npm package as a user gets it: the tarball `npm pack` makes, installed
# offline into a scratch project under build/, and checked there through
# require and import (the package's own test over the shared cases), through
# TypeScript, and through its browser build in headless Chromium.
#   tests/bindings/node/package-test.sh   (after make -C bindings node)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
package=$root/bindings/node
here=$root/tests/bindings/node
scratch=$root/build/node-package
tsc=$package/node_modules/typescript/bin/tsc

rm -rf "$scratch"
mkdir -p "$scratch/test"
tarball=$(cd "$package" && npm pack --silent --pack-destination "$scratch" | tail -n 1)
cd "$scratch"
printf '{ "name": "palavox-package-test", "private": true }\n' > package.json
npm install --offline --no-audit --no-fund --ignore-scripts --silent "./$tarball"
echo "node package: $tarball installed in $scratch"

# The package's test, run against what was installed: it loads "palavox" by name.
cp "$package/test/palavox.test.mjs" "$package/test/cases.mjs" "$package/test/palavox_cases.txt" test/
node --test --test-reporter=dot test/palavox.test.mjs

# The declarations, as a CommonJS and as an ES module user reads them.
cp "$here/usage.ts" usage.ts
cp "$here/usage.ts" usage.mts
node "$tsc" --strict --noEmit usage.ts
node "$tsc" --strict --noEmit --module nodenext usage.ts usage.mts
echo "node package: tsc --strict accepts the usage file and refuses its wrong calls"

node "$here/browser-test.mjs" "$scratch"
