#!/usr/bin/env bash
# Three network namespaces joined by veth pairs, as a class meets the
# Internet: SERVER (nginx-rtmp and the relays), PUPIL (10.19.1.2, server at
# 10.19.1.1) and TEACHER (10.19.2.2, server at 10.19.2.1). Prints
# "ready SERVER PUPIL TEACHER", then takes one command a line on standard
# input and answers "ok" or "failed" to each:
#   cap pupil|teacher RATE   the pupil's downlink / the teacher's uplink (tc tbf)
#   uncap pupil|teacher
#   loss pupil|teacher PERCENT   packets dropped at random both ways (nftables)
#   cut pupil|teacher        every packet dropped, no reset
#   mend pupil|teacher       no more loss or cut
#   port PORT                waits until something listens on the server's loopback
# The namespaces are removed when standard input closes or the script ends.
set -u
id=$$-$RANDOM
server=tavi-s-$id pupil=tavi-p-$id teacher=tavi-t-$id
cleanup() { for n in "$server" "$pupil" "$teacher"; do ip netns del "$n" 2>/dev/null; done; }
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

setup() {
  ip netns add "$server" && ip netns add "$pupil" && ip netns add "$teacher" || return 1
  local n=1 ns
  for ns in "$pupil" "$teacher"; do
    ip link add vs$n netns "$server" type veth peer name vc netns "$ns" || return 1
    ip -n "$server" addr add 10.19.$n.1/30 dev vs$n && ip -n "$ns" addr add 10.19.$n.2/30 dev vc || return 1
    ip -n "$server" link set vs$n up && ip -n "$ns" link set vc up && ip -n "$ns" link set lo up || return 1
    ip netns exec "$ns" nft add table inet lab || return 1
    ip netns exec "$ns" nft add chain inet lab in '{ type filter hook input priority 0; }' || return 1
    ip netns exec "$ns" nft add chain inet lab out '{ type filter hook output priority 0; }' || return 1
    n=$((n + 1))
  done
  ip -n "$server" link set lo up
}

# The namespace that filters a side, and the device that carries its shaped direction.
side() {
  case $1 in
    pupil) ns=$pupil dev_ns=$server dev=vs1 ;;
    teacher) ns=$teacher dev_ns=$teacher dev=vc ;;
    *) return 1 ;;
  esac
}

filter() { # side rule...
  side "$1" || return 1
  shift
  ip netns exec "$ns" nft flush chain inet lab in && ip netns exec "$ns" nft flush chain inet lab out || return 1
  [ $# -eq 0 ] && return 0
  ip netns exec "$ns" nft add rule inet lab in "$@" && ip netns exec "$ns" nft add rule inet lab out "$@"
}

run() {
  case $1 in
    cap) side "$2" && tc -n "$dev_ns" qdisc replace dev "$dev" root tbf rate "$3" burst 16kb latency 300ms ;;
    uncap) side "$2" && tc -n "$dev_ns" qdisc del dev "$dev" root ;;
    loss) filter "$2" numgen random mod 100 '<' "$3" drop ;;
    cut) filter "$2" drop ;;
    mend) filter "$2" ;;
    port)
      for _ in $(seq 100); do
        ip netns exec "$server" bash -c "exec 3<>/dev/tcp/127.0.0.1/$2" 2>/dev/null && return 0
        sleep 0.1
      done
      return 1 ;;
    *) return 1 ;;
  esac
}

setup || { echo "failed"; exit 1; }
echo "ready $server $pupil $teacher"
while read -r -a words; do
  [ ${#words[@]} -gt 0 ] || continue
  if run "${words[@]}" >/dev/null 2>&1; then echo ok; else echo failed; fi
done
