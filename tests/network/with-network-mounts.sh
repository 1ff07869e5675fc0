#!/usr/bin/env bash
# Runs a command with two network shares mounted, a writable folder on each
# named in QUAVELLE_TEST_SMBNETFS_SHARE and QUAVELLE_TEST_SSHFS_SHARE:
#   smbnetfs  a private SMB server (smbd) on 127.0.0.1, through the FUSE SMB client
#   sshfs     a private SSH server on 127.0.0.1, through the FUSE SFTP client
# Both servers, their keys, passwords and folders live in a scratch folder and
# are stopped and removed at the end. Needs root and /dev/fuse.
#   tests/network/with-network-mounts.sh COMMAND [ARGS...]
set -euo pipefail

# A port nothing listens on, so that servers of an earlier run still going
# down are never taken for this run's.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 20000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}
smb_port="$(free_port)"
ssh_port="$(free_port)"
scratch="$(mktemp -d /tmp/qv-network.XXXXXX)"
pids=()
mounts=()

cleanup() {
  set +e
  for m in "${mounts[@]}"; do fusermount3 -u "$m" 2>/dev/null || umount -l "$m"; done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT

wait_for_port() {
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "with-network-mounts: nothing listens on port $1" >&2
  return 1
}

# The SMB server, with a user of its own password database.
mkdir -p "$scratch"/smb/{private,lock,state,cache,pid,ncalrpc,log} "$scratch/smb-share" \
  "$scratch/smb-mount" "$scratch/home/.smb"
cat >"$scratch/smb/smb.conf" <<CONF
[global]
  netbios name = QVTEST
  server role = standalone server
  interfaces = 127.0.0.1
  bind interfaces only = yes
  smb ports = $smb_port
  disable netbios = yes
  private dir = $scratch/smb/private
  lock directory = $scratch/smb/lock
  state directory = $scratch/smb/state
  cache directory = $scratch/smb/cache
  pid directory = $scratch/smb/pid
  ncalrpc dir = $scratch/smb/ncalrpc
  log file = $scratch/smb/log/log.%m
  passdb backend = tdbsam:$scratch/smb/private/passdb.tdb
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  server min protocol = SMB2
[share]
  path = $scratch/smb-share
  read only = no
  force user = root
CONF
password="qv-$RANDOM-$RANDOM"
printf '%s\n%s\n' "$password" "$password" | smbpasswd -c "$scratch/smb/smb.conf" -s -a root >/dev/null
smbd --foreground -s "$scratch/smb/smb.conf" </dev/null >"$scratch/smb/log/stdout" 2>&1 &
pids+=($!)
wait_for_port "$smb_port"
printf 'auth "127.0.0.1" "root" "%s"\n' "$password" >"$scratch/home/.smb/smbnetfs.conf"
chmod 600 "$scratch/home/.smb/smbnetfs.conf"
(cd "$scratch" && HOME="$scratch/home" smbnetfs "$scratch/smb-mount")
mounts+=("$scratch/smb-mount")
smb_folder="$scratch/smb-mount/127.0.0.1:$smb_port/share"
for _ in $(seq 50); do [ -d "$smb_folder" ] && break; sleep 0.1; done

# SSH with a host key and a user key made for this run only.
mkdir -p "$scratch/ssh" "$scratch/sftp-share" "$scratch/sftp-mount" /run/sshd
ssh-keygen -q -t ed25519 -N '' -f "$scratch/ssh/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/ssh/user_key"
cp "$scratch/ssh/user_key.pub" "$scratch/ssh/authorized_keys"
cat >"$scratch/ssh/sshd_config" <<CONF
Port $ssh_port
ListenAddress 127.0.0.1
HostKey $scratch/ssh/host_key
AuthorizedKeysFile $scratch/ssh/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
PidFile none
Subsystem sftp internal-sftp
CONF
/usr/sbin/sshd -D -f "$scratch/ssh/sshd_config" -E "$scratch/ssh/log" &
pids+=($!)
wait_for_port "$ssh_port"
sshfs -p "$ssh_port" -o "IdentityFile=$scratch/ssh/user_key,StrictHostKeyChecking=no" \
  -o "UserKnownHostsFile=/dev/null,BatchMode=yes,LogLevel=ERROR" \
  "root@127.0.0.1:$scratch/sftp-share" "$scratch/sftp-mount"
mounts+=("$scratch/sftp-mount")

export QUAVELLE_TEST_SMBNETFS_SHARE="$smb_folder"
export QUAVELLE_TEST_SSHFS_SHARE="$scratch/sftp-mount"
"$@"
