#!/bin/sh
# Installs, as root on Debian 12, the packages that Orvane's build, run and tests need (and
# dpkg-dev and file, with which `cpack -G DEB` works out the package's dependencies).
# Only what is missing is installed; the package lists are refreshed only when needed.
# With --tests, also the servers the tests start on loopback ports of their own (Radicale,
# Xandikos, lighttpd, Dovecot with ManageSieve, a three-member etcd with etcdctl to set up its
# users) and Prometheus, whose promtool checks the monitor's metrics: Debian starts their system
# services on installation, which the tests do not use, so a service this script installed is
# stopped and disabled again.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libical-dev libicu-dev libcurl4-openssl-dev libsystemd-dev libldap-dev
  zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd openssl ca-certificates tzdata
  slapd ldap-utils
  dpkg-dev file
  clang-14 libclang-rt-14-dev libgmime-3.0-dev python3-dateutil
"
TEST_SERVERS="radicale xandikos lighttpd dovecot-core dovecot-managesieved dovecot-sieve etcd-server
  etcd-client prometheus"

wanted="$PACKAGES"
if [ "${1:-}" = "--tests" ]; then
  wanted="$wanted $TEST_SERVERS"
fi

missing=""
for p in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing:$missing" >&2
    echo "setup: run this command as root (or with sudo) to install them" >&2
    exit 1
  fi
  echo "setup: installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  # The tests run their own slapd on loopback with a temporary configuration: the package is
  # installed without a directory of its own, so no system slapd is set up or started.
  case "$missing" in
    *" slapd"*) echo "slapd slapd/no_configuration boolean true" | debconf-set-selections ;;
  esac
  apt-get install -y -q --no-install-recommends $missing || {
    apt-get update -q
    apt-get install -y -q --no-install-recommends $missing
  }
  for package in $TEST_SERVERS; do
    case " $missing " in
      *" $package "*)
        # The service a package starts, by its name: Dovecot's packages share one, etcd-client
        # starts none.
        case "$package" in
          dovecot-core) service=dovecot ;;
          dovecot-*|etcd-client) continue ;;
          etcd-server) service=etcd ;;
          *) service=$package ;;
        esac
        if command -v systemctl >/dev/null 2>&1; then
          systemctl disable --now "$service" >/dev/null 2>&1 || true
        fi ;;
    esac
  done
fi
