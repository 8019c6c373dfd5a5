#!/usr/bin/env bash
# Writes the source release, build-release/quarrow-<version>.tar.gz: the files git tracks (every file but the
# builds and play/ in a tree without git), as they stand, under a folder quarrow-<version>/. Its entries carry the
# time of set_source_date_epoch and no owner, so that the same sources make the same tarball. It builds, installs and
# tests with no network and no git.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/common.sh
install_packages "${GAME_PACKAGES[@]}"
set_source_date_epoch
# The version, as the build reads it from CMakeLists.txt.
cmake -S . -B build-release -DBUILD_TESTING=OFF >/dev/null
name=quarrow-$(version_of build-release)
list=build-release/files
if [ -e .git ]; then
  git ls-files -z >"$list"
else
  find . -path ./play -prune -o -path './build*' -prune -o -type f -printf '%P\0' >"$list"
fi
tar --null -T "$list" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --mode=go-w --transform "s,^,$name/," -cf - | gzip -9n >"build-release/$name.tar.gz"
echo "Source release: build-release/$name.tar.gz"
