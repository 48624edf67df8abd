#!/usr/bin/env bash
# The VM stage: boots Debian's own kernel in QEMU with a small initramfs that loads the USB
# stack, the iowarrior driver, dummy_hcd with three controllers, configfs and FunctionFS, and DRM
# with the bochs driver of QEMU's bochs-display (a connector whose EDID the tests set), then
# runs the test programs that drive the real driver against IO-Warriors emulated through
# FunctionFS, up to three at once. The kernel comes from
# the package that linux-image-amd64 depends on, unpacked into the build folder, never
# installed. Prints the driver's kernel lines, one "N passed, M failed" line, and fails on
# any failure or when anything needed is missing.
# With "bench" as its second argument it runs the benchmark of the command line through the
# driver (bench/vm/) instead, from a build made with -DQUILLON_BENCH=ON, and prints its table.
set -euo pipefail
build=$(realpath "${1:-build}")
mode=${2:-tests}
vm="$build/vm"
mkdir -p "$vm"
fail() { echo "vm stage: $*" >&2; exit 1; }

# 1. The kernel and its modules.
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
[ -n "$kernel_package" ] || fail "apt-cache does not name the kernel package of linux-image-amd64"
if [ ! -d "$vm/kernel-$kernel_package" ]; then
    rm -rf "$vm"/kernel-* "$vm"/download
    mkdir -p "$vm/download"
    (cd "$vm/download" && apt-get download "$kernel_package") >/dev/null 2>&1 ||
        fail "apt-get download $kernel_package failed"
    dpkg-deb -x "$vm"/download/*.deb "$vm/kernel-$kernel_package" || fail "cannot unpack $kernel_package"
fi
root="$vm/kernel-$kernel_package"
vmlinuz=$(ls "$root"/boot/vmlinuz-* | head -1)
modules=$(ls -d "$root"/lib/modules/*/kernel | head -1)

# 2. The initramfs: busybox, the modules, the test programs and the libraries they load.
ir="$vm/initramfs"
rm -rf "$ir"
mkdir -p "$ir"/{bin,mod,proc,sys,dev,tmp,tests}
cp "$(command -v busybox)" "$ir/bin/busybox" || fail "busybox-static is missing"
for applet in sh mount insmod rmmod mkdir cat poweroff dmesg grep echo; do ln -s busybox "$ir/bin/$applet"; done
for m in drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/misc/iowarrior \
         drivers/usb/gadget/udc/udc-core drivers/usb/gadget/udc/dummy_hcd fs/configfs/configfs \
         drivers/usb/gadget/libcomposite drivers/usb/gadget/function/usb_f_fs \
         drivers/gpu/drm/drm drivers/gpu/drm/drm_kms_helper drivers/gpu/drm/ttm/ttm \
         drivers/gpu/drm/drm_ttm_helper drivers/gpu/drm/drm_vram_helper drivers/gpu/drm/tiny/bochs \
         drivers/i2c/i2c-dev drivers/i2c/i2c-stub drivers/misc/eeprom/at24 \
         drivers/i2c/busses/i2c-piix4 drivers/hid/hid drivers/hid/uhid drivers/hid/hid-cp2112 \
         drivers/hid/hid-mcp2221; do
    cp "$modules/$m.ko" "$ir/mod/" || fail "module $m missing from $kernel_package"
done
# The window's test runs on Qt's offscreen platform, with a font.
qt_plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
offscreen="$qt_plugins/platforms/libqoffscreen.so"
[ -e "$offscreen" ] || fail "Qt's offscreen platform plugin is missing"
copy_with_libraries() {  # file, destination folder in the guest
    mkdir -p "$ir$2"
    cp "$1" "$ir$2/"
    for lib in $(ldd "$1" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}'); do
        mkdir -p "$ir$(dirname "$lib")"
        [ -e "$ir$lib" ] || cp -L "$lib" "$ir$lib"
    done
}
programs=()  # QUILLON_VM_TESTS="test_vm_cli ..." runs only those
for name in ${QUILLON_VM_TESTS:-test_vm_driver test_vm_window test_vm_cli test_vm_displays test_vm_i2c_buses}; do programs+=("$build/tests/$name"); done
[ "$mode" = bench ] && programs=("$build/bench/bench_vm_cli")
for program in "${programs[@]}"; do
    [ -x "$program" ] || fail "$program is not built"
    copy_with_libraries "$program" /tests
done
# The command-line program that test_vm_cli runs, as the package ships it (the driver build).
[ -x "$build/src/app/quillon-cli" ] || fail "quillon-cli is not built"
copy_with_libraries "$build/src/app/quillon-cli" /cli
copy_with_libraries "$offscreen" /qt/plugins/platforms
mkdir -p "$ir/etc" "$ir/usr/share/fonts"
cp -r /etc/fonts "$ir/etc/"
cp -r /usr/share/fonts/truetype/liberation "$ir/usr/share/fonts/" || fail "fonts-liberation is missing"
# The corpus EDIDs that the virtual GPU's connector carries for the clone of a display.
corpus="$(dirname "$(realpath "$0")")/../../shared/edid-corpus"
mkdir -p "$ir/corpus/long"
for name in acer-k272hl.bin acer-x34.bin long/dell-up2715k-dp1-tile1.bin; do
    cp "$corpus/$name" "$ir/corpus/$name" || fail "the corpus's $name is missing"
done
cat > "$ir/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
for m in usb-common usbcore iowarrior udc-core configfs libcomposite usb_f_fs; do insmod /mod/$m.ko; done
# DRM and the virtual GPU's driver only while the clone of a display runs: the other programs'
# timing cases keep the guest to themselves. No console on the GPU (fbdev_emulation=0).
drm_on() {
    for m in drm drm_kms_helper ttm drm_ttm_helper drm_vram_helper bochs; do
        if [ $m = drm_kms_helper ]; then insmod /mod/$m.ko fbdev_emulation=0; else insmod /mod/$m.ko; fi
    done
}
drm_off() {
    for m in bochs drm_vram_helper drm_ttm_helper ttm drm_kms_helper drm; do rmmod $m || true; done
}
# i2c-dev and the buses behind it only while the Linux buses' program runs: two USB bridges'
# HID drivers (their devices come through uhid), i2c-stub with a chip at 0x50, at24, and the
# PIIX4's SMBus host controller.
i2c_on() {
    for m in i2c-dev i2c-piix4 at24 hid uhid hid-cp2112 hid-mcp2221; do insmod /mod/$m.ko; done
    insmod /mod/i2c-stub.ko chip_addr=0x50
}
i2c_off() {
    for m in i2c-stub hid-mcp2221 hid-cp2112 uhid hid at24 i2c-piix4 i2c-dev; do rmmod $m || true; done
}
mount -t debugfs none /sys/kernel/debug
insmod /mod/dummy_hcd.ko is_high_speed=0 num=3
mount -t configfs none /sys/kernel/config
echo "== guest up"
set --
[ -s /args ] && set -- "$(cat /args)"
for t in /tests/*; do
    [ "$t" = /tests/test_vm_displays ] && drm_on
    [ "$t" = /tests/test_vm_i2c_buses ] && i2c_on
    echo "== $t"
    HOME=/tmp QTEST_FUNCTION_TIMEOUT=600000 QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=/qt/plugins \
        XDG_RUNTIME_DIR=/tmp QUILLON_CLI=/cli/quillon-cli "$t" "$@"
    echo "== exit $?"
    [ "$t" = /tests/test_vm_displays ] && drm_off
    [ "$t" = /tests/test_vm_i2c_buses ] && i2c_off
done
echo "== driver's kernel lines"
dmesg | grep -i -E "iowarrior|IOWarrior|I/O-Warr|cp2112|mcp2221|piix4|i2c" | head -30
[ -s /args ] && dmesg | tail -30
echo "== guest done"
poweroff -f
INIT
chmod +x "$ir/init"
printf '%s' "${QUILLON_VM_ARGS:-}" > "$ir/args"  # one test function (and row): "rows:write"
(cd "$ir" && find . | cpio -o -H newc 2>/dev/null | gzip -1 > "$vm/initramfs.gz")

# 3. Boot: KVM when it can boot the kernel here, otherwise TCG. Under KVM the guest is up within
# seconds; where it is not after 30 (some hosts' KVM cannot boot this kernel), TCG takes over.
# The benchmark's guest has two CPUs, so that three fixtures' emulators and the program's
# threads need not share one.
cpus=1
[ "$mode" = bench ] && cpus=2
boot() {  # accel, seconds
    timeout "$2" qemu-system-x86_64 -accel "$1" -m 512 -smp "$cpus" -nographic -no-reboot \
        -vga none -device bochs-display \
        -kernel "$vmlinuz" -initrd "$vm/initramfs.gz" \
        -append "console=ttyS0 quiet panic=-1" > "$vm/console.log" 2>&1 || true
}
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86 is missing"
accel=tcg
if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
    boot kvm 1500 &
    booting=$!
    for _ in $(seq 30); do
        sleep 1
        if grep -q "== guest up" "$vm/console.log" 2>/dev/null; then accel=kvm; break; fi
        kill -0 "$booting" 2>/dev/null || break
    done
    if [ "$accel" != kvm ]; then
        pkill -P "$booting" timeout || true  # timeout passes the signal on to QEMU
    fi
    wait "$booting" || true
fi
if [ "$accel" = tcg ]; then boot tcg 1500; fi
tr -d '\r' < "$vm/console.log" | sed -n '/== guest up/,/== guest done/p' > "$vm/stage.log"
if [ "$mode" = bench ]; then
    grep '^|' "$vm/stage.log" || fail "the benchmark printed nothing (console: $vm/console.log)"
    echo "(through the VM's $accel)"
    exit 0
fi
cat "$vm/stage.log"
grep -q "== guest done" "$vm/stage.log" || fail "the guest did not finish (console: $vm/console.log)"
passed=$(awk '/^Totals:/ {p += $2} END {print p + 0}' "$vm/stage.log")
failed=$(awk '/^Totals:/ {f += $4} END {print f + 0}' "$vm/stage.log")
exits=$(grep -c "^== exit [1-9]" "$vm/stage.log" || true)
echo "vm stage ($accel): $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$exits" -eq 0 ] && [ "$passed" -gt 0 ]
