#!/usr/bin/env bash
# Builds Quarrow's Debian package, build-deb/quarrow_<version>_amd64.deb, with the deb preset. Its files are dated
# SOURCE_DATE_EPOCH (the last commit's time unless set), so the same sources make the same package.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
set_source_date_epoch
rm -f build-deb/quarrow_*.deb
nice -n 10 cmake --workflow --preset deb
echo "Debian package: $(ls build-deb/quarrow_*.deb)"
