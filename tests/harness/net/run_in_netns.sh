#!/usr/bin/env bash
# Runs a test program inside a network namespace of its own, so its DNS and SMTP servers (net_world.py)
# can use port 53 and port 25 on loopback addresses without touching the machine's network.
#
#   run_in_netns.sh PROGRAM [ARGS...]
#
# The namespace gets loopback up, 127.0.0.2-127.0.0.24 and fd00::2-fd00::9 on lo (besides ::1), a network
# that swallows every packet (10.99.0.0/24 and fd00:99::/64 behind a veth pair whose far end answers
# nothing, so connects there time out as behind a firewall that drops them), and a resolver file pointing
# at 127.0.0.1 with short waits. PROGRAM sees its name in VOX_NETNS. Exit status 77 (skipped) when the namespace cannot
# be made: not root, or no namespace support.
set -u

# Listing tests needs no namespace (and runs at build time, perhaps without root).
for arg in "$@"; do
  case "$arg" in --gtest_list_tests*) exec "$@" ;; esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the delivery tests against real DNS and SMTP servers need root (network namespaces)"
  exit 77
fi

# A run killed outright (a test time-out) leaves its namespace behind; once the run's own process and
# everything in the namespace are gone, it is only litter.
for stale in $(ip netns list 2>/dev/null | awk '$1 ~ /^vox-net-[0-9]+-/ {print $1}'); do
  owner=${stale#vox-net-}
  owner=${owner%%-*}
  if ! kill -0 "$owner" 2>/dev/null && [ -z "$(ip netns pids "$stale" 2>/dev/null)" ]; then
    ip netns del "$stale" 2>/dev/null && rm -rf "/etc/netns/$stale"
  fi
done

ns="vox-net-$$-$RANDOM$RANDOM"
if ! ip netns add "$ns" 2>/dev/null; then
  echo "SKIPPED: cannot create a network namespace here (ip netns add failed)"
  exit 77
fi

cleanup() {
  # Everything left in the namespace was started by this test: end it by pid, wait until it is gone.
  local pids tries=0
  pids=$(ip netns pids "$ns" 2>/dev/null)
  [ -n "$pids" ] && kill $pids 2>/dev/null
  while [ -n "$(ip netns pids "$ns" 2>/dev/null)" ]; do
    tries=$((tries + 1))
    if [ $tries -eq 50 ]; then
      pids=$(ip netns pids "$ns" 2>/dev/null)
      [ -n "$pids" ] && kill -9 $pids 2>/dev/null
    fi
    [ $tries -gt 100 ] && break
    sleep 0.05
  done
  ip netns del "$ns" 2>/dev/null
  rm -rf "/etc/netns/$ns"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "/etc/netns/$ns"
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/$ns/resolv.conf"
ip -n "$ns" link set lo up
for i in $(seq 2 24); do
  ip -n "$ns" addr add "127.0.0.$i/32" dev lo 2>/dev/null
done
for i in $(seq 2 9); do
  ip -n "$ns" addr add "fd00::$i/128" dev lo nodad 2>/dev/null
done
if ip -n "$ns" link add vox-drop type veth peer name vox-void 2>/dev/null; then
  ip -n "$ns" link set vox-drop up
  ip -n "$ns" link set vox-void up
  ip -n "$ns" addr add 10.99.0.1/24 dev vox-drop
  ip -n "$ns" addr add fd00:99::1/64 dev vox-drop nodad
  for i in $(seq 2 9); do
    ip -n "$ns" neigh add "10.99.0.$i" lladdr 02:00:00:00:00:0$i dev vox-drop nud permanent
    ip -n "$ns" neigh add "fd00:99::$i" lladdr 02:00:00:00:00:0$i dev vox-drop nud permanent
  done
fi

VOX_NETNS="$ns" ip netns exec "$ns" "$@"
