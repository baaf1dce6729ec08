#!/usr/bin/env bash
# Makes a FAT card image whose VOICE folder holds sample recordings (voctool make-sample)
# and mounts it under /media/, where sdvoice looks for removable media. Uses the kernel's
# FAT driver when there is one, else fusefat. Running it again rebuilds the same card.
#
#   scripts/make-sample-card.sh [--count N] [NAME]   make and mount /media/NAME (default sdvoice-card)
#   scripts/make-sample-card.sh --unmount [NAME]     unmount it again
# --voctool FILE takes that voctool (default build/tools/voctool, built when missing) and
# --image-dir DIR keeps the image there (default build/sample-card).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

usage() {
  echo "usage: $0 [--count N] [--voctool FILE] [--image-dir DIR] [NAME] | --unmount [NAME]" >&2
  exit 2
}

action=make
count=20
name=sdvoice-card
default_voctool=$repo/build/tools/voctool
voctool=$default_voctool
image_dir=$repo/build/sample-card
while [ $# -gt 0 ]; do
  case "$1" in
    --unmount) action=unmount ;;
    --count)
      [ $# -ge 2 ] || usage
      count=$2
      shift
      ;;
    --voctool | --image-dir)
      [ $# -ge 2 ] || usage
      if [ "$1" = --voctool ]; then voctool=$2; else image_dir=$2; fi
      shift
      ;;
    -*) usage ;;
    *) name=$1 ;;
  esac
  shift
done
case "$count" in '' | *[!0-9]*) usage ;; esac
case "$name" in '' | */* | . | ..) usage ;; esac

mount_point=/media/$name
image=$image_dir/$name.img

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi

is_mounted() {
  findmnt -n --mountpoint "$mount_point" >/dev/null 2>&1
}

unmount_card() {
  while is_mounted; do
    if [ "$(id -u)" -ne 0 ] && [[ "$(findmnt -n -o FSTYPE --mountpoint "$mount_point")" == fuse* ]]; then
      fusermount -u "$mount_point" 2>/dev/null || fusermount -u -z "$mount_point"
    else
      "${as_root[@]}" umount "$mount_point" 2>/dev/null || "${as_root[@]}" umount -l "$mount_point"
    fi
  done
}

kernel_has_fat_driver() {
  grep -qw vfat /proc/filesystems && return 0
  [ "$(id -u)" -eq 0 ] && command -v modprobe >/dev/null && modprobe -q vfat 2>/dev/null \
    && grep -qw vfat /proc/filesystems
}

make_image() {
  local samples
  samples=$(mktemp -d)
  trap 'rm -rf "$samples"' RETURN
  "$voctool" make-sample "$samples/VOICE" "$count" >/dev/null
  # Room for the recordings plus a margin for the FAT and directory entries.
  local size_kib
  size_kib=$(du -sk "$samples" | cut -f1)
  size_kib=$((size_kib + size_kib / 5 + 2048))
  [ "$size_kib" -ge 33792 ] || size_kib=33792
  mkdir -p "$(dirname "$image")"
  rm -f "$image"
  mkfs.vfat -C "$image" "$size_kib" >/dev/null
  mcopy -s -i "$image" "$samples/VOICE" ::
}

mount_image() {
  "${as_root[@]}" mkdir -p "$mount_point"
  if kernel_has_fat_driver; then
    "${as_root[@]}" mount -o "loop,uid=$(id -u),gid=$(id -g)" "$image" "$mount_point"
    echo "mounted $image on $mount_point (kernel FAT driver)"
  else
    command -v fusefat >/dev/null || { echo "no FAT driver and no fusefat: run scripts/setup-deps.sh" >&2; exit 1; }
    [ "$(id -u)" -eq 0 ] || "${as_root[@]}" chown "$(id -u):$(id -g)" "$mount_point"
    # fusefat reports its work in detail; keep that in a log and show it only on failure.
    local log=${image%.img}.log
    if ! fusefat -o rw+ "$image" "$mount_point" >"$log" 2>&1; then
      cat "$log" >&2
      exit 1
    fi
    echo "mounted $image on $mount_point (fusefat)"
  fi
}

if [ "$action" = unmount ]; then
  unmount_card
  "${as_root[@]}" rmdir "$mount_point" 2>/dev/null || true
  echo "$mount_point is not mounted"
  exit 0
fi

for tool in mkfs.vfat mcopy; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup-deps.sh" >&2; exit 1; }
done
if [ ! -x "$voctool" ]; then
  [ "$voctool" = "$default_voctool" ] || { echo "$voctool is not an executable voctool" >&2; exit 1; }
  scripts/build.sh --target voctool
fi
unmount_card
make_image
mount_image
echo "$count sample recordings in $mount_point/VOICE"
