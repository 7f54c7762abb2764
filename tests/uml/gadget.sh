# shellcheck shell=bash
# Sourced by the scripts that run inside the kernel (tests/uml/run.sh): a USB gadget on
# the kernel's software USB controller, made through configfs, which the host's own
# driver (snd-usb-audio) then takes for a USB MIDI interface plugged in.
#   gadget_make NAME PRODUCT_ID PRODUCT FUNCTION   FUNCTION: midi.usb0, ffs.NAME, ...
#   gadget_bind NAME PRODUCT    plugs it in; returns once the host has its card
#   no_overruns                 fails when the kernel dropped bytes towards a MIDI port
gadget_make() {
  local dir=/sys/kernel/config/usb_gadget/$1
  mkdir "$dir"
  echo 0x1d6b >"$dir/idVendor"
  echo "$2" >"$dir/idProduct"
  mkdir -p "$dir/strings/0x409" "$dir/functions/$4" "$dir/configs/c.1"
  echo "$3" >"$dir/strings/0x409/product"
  ln -s "$dir/functions/$4" "$dir/configs/c.1/"
}

gadget_bind() {
  ls /sys/class/udc | head -n 1 >"/sys/kernel/config/usb_gadget/$1/UDC"
  for _ in $(seq 100); do
    grep -q "USB-Audio - $2" /proc/asound/cards && return 0
    sleep 0.1
  done
  echo "no USB MIDI card for $2"
  cat /proc/asound/cards
  return 1
}

no_overruns() {
  local overruns
  overruns=$(dmesg | grep -c "MIDI output buffer overrun" || true)
  [ "$overruns" -eq 0 ] || { echo "FAILED: the kernel dropped bytes: $overruns overruns"; return 1; }
}
