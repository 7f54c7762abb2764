#!/usr/bin/env bash
# Builds a user-mode Linux kernel with the ALSA sequencer, virtual raw MIDI ports and a
# USB MIDI gadget on the software USB controller, once per build folder:
#   tests/uml/build-kernel.sh BUILD_DIR     -> BUILD_DIR/uml/linux
# Starts from allnoconfig rather than defconfig: it builds in well under half the time
# and boots all the tests need (hostfs root, devtmpfs, the sound and USB stacks).
set -euo pipefail

build=$(realpath -m "${1:?usage: build-kernel.sh BUILD_DIR}")/uml
kernel=$build/linux
# Built again, from a fresh source tree, whenever this script has changed.
recipe=$(sha256sum "$0" | cut -d ' ' -f 1)
[ -x "$kernel" ] && [ "$(cat "$kernel.recipe" 2>/dev/null)" = "$recipe" ] && exit 0

tarball=/usr/src/linux-source-6.1.tar.xz
[ -r "$tarball" ] || { echo "build-kernel.sh: $tarball missing (package linux-source-6.1)" >&2; exit 1; }

mkdir -p "$build"
src=$build/linux-source-6.1
if [ "$(cat "$src/.unpacked" 2>/dev/null)" != "$recipe" ]; then
  rm -rf "$src"
  tar -xJf "$tarball" -C "$build"
  # ALSA is hidden from UML only because it has no sound hardware; the sequencer and
  # the virtual and USB MIDI drivers need none.
  sed -i -e '/^if !UML$/d' -e '/^endif # !UML$/d' "$src/sound/Kconfig"
  # FunctionFS refuses class-specific descriptors, which a USB MIDI interface needs; it
  # only has to pass them on.
  sed -i 's/^\tcase USB_DT_DEVICE:$/\tcase USB_DT_CS_INTERFACE:\n\tcase USB_DT_CS_ENDPOINT:\n\t\tbreak;\n\n\tcase USB_DT_DEVICE:/' \
    "$src/drivers/usb/gadget/function/f_fs.c"
  echo "$recipe" >"$src/.unpacked"
fi

options=(
  # Running ordinary programs from the host's file system.
  64BIT BINFMT_ELF BINFMT_SCRIPT MULTIUSER POSIX_TIMERS FUTEX EPOLL EVENTFD SIGNALFD TIMERFD
  FILE_LOCKING SYSVIPC SHMEM TMPFS HOSTFS PROC_FS SYSFS DEVTMPFS DEVTMPFS_MOUNT
  PRINTK TTY UNIX98_PTYS STDERR_CONSOLE SSL NULL_CHAN MCONSOLE MAGIC_SYSRQ
  NET UNIX HIGH_RES_TIMERS CONFIGFS_FS
  # I/O memory emulation, which the sound core depends on.
  VIRTIO_UML UML_PCI_OVER_VIRTIO
  # The sequencer and software MIDI ports.
  SOUND SND SND_TIMER SND_HRTIMER SND_SEQUENCER SND_SEQ_DUMMY SND_RAWMIDI SND_DRIVERS
  SND_VIRMIDI
  # USB MIDI: the real host driver, the software controller and configfs gadgets.
  USB_SUPPORT USB USB_GADGET USB_DUMMY_HCD USB_CONFIGFS USB_CONFIGFS_F_MIDI
  USB_CONFIGFS_F_FS SND_USB SND_USB_AUDIO
)
off=(SND_PCI SND_ISA SND_SOC SND_SPI SND_X86 SND_FIREWIRE SND_PCMCIA SND_HDA_INTEL
  SND_HDA_GENERIC SND_SUPPORT_OLD_API SND_VERBOSE_PROCFS USB_STORAGE)

cd "$src"
make -s ARCH=um allnoconfig
for option in "${options[@]}"; do scripts/config --enable "$option"; done
for option in "${off[@]}"; do scripts/config --disable "$option"; done
scripts/config --set-val UML_PCI_OVER_VIRTIO_DEVICE_ID 1234
make -s ARCH=um olddefconfig
for option in "${options[@]}"; do
  grep -q "^CONFIG_$option=y" .config || { echo "build-kernel.sh: CONFIG_$option did not stay on" >&2; exit 1; }
done
make -s ARCH=um -j"${UML_JOBS:-2}" linux
cp linux "$kernel.tmp"
mv "$kernel.tmp" "$kernel"
echo "$recipe" >"$kernel.recipe"
