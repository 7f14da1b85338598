# Debian's source packages: the deb-src entry apt needs to fetch them.

# Adds a deb-src entry for Debian's own archive when apt has none, and updates the lists.
voxtrel_ensure_deb_src() {
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list 2>/dev/null ||
     grep -qs '^deb-src' /etc/apt/sources.list; then
    return 0
  fi
  echo "adding a deb-src entry for Debian's source packages"
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo tee /etc/apt/sources.list.d/voxtrel-src.sources >/dev/null <<SRCS
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRCS
  $sudo apt-get update -q
}
