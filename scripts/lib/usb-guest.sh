# The USB guest: a small Linux virtual machine (Debian's own kernel under
# QEMU, busybox as its userland) in which the kernel's dummy USB controller
# joins a gadget's serial function (/dev/ttyGS*, the phone's side) to the
# cdc_acm driver (/dev/ttyACM*, the PC's side). The host's /usr and the tree
# are shared read-only over 9p, so programs built here run there unchanged.
# Sourced by scripts/test-usb and scripts/bench.
#
#   usb_guest_prepare            # kernel and initramfs into the cache, once
#   usb_guest_run RUN_DIR CMD..  # boots, runs CMD in the guest, powers off
#
# The kernel package is fetched with apt-get download and unpacked into
# ${XDG_CACHE_HOME:-~/.cache}/flashtool-usb (FLASHTOOL_USB_CACHE overrides),
# never installed and never in the tree. What the guest loads and how it starts
# are rows in tests/usb/guest/: modules (one module a line, with parameters)
# and init (its first process).
#
# Anything missing (QEMU, the kernel package, a module) is an error, never a
# skip.

usb_guest_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usb_guest_cache=${FLASHTOOL_USB_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/flashtool-usb}
usb_guest_rows=$usb_guest_root/tests/usb/guest
# The guest's size: one processor (QEMU emulates it; KVM is not used) and
# room for the programs under test.
usb_guest_memory=512M
# The parts of the kernel's module tree that are unpacked into the cache
# (all of it is 400 MB): what tests/usb/guest/modules names, and what that
# needs, must lie in these.
usb_guest_module_dirs=(drivers/usb drivers/virtio fs/9p fs/netfs fs/fscache fs/configfs net/9p)
# A whole guest run must end within this many seconds, or it is stopped.
usb_guest_time_limit=${FLASHTOOL_USB_TIME_LIMIT:-600}

usb_guest_fail() {
    echo "usb guest: $*" >&2
    return 1
}

# The kernel package Debian's linux-image-amd64 stands for at the moment.
usb_guest_kernel_package() {
    apt-cache depends --important linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# Fetches and unpacks the kernel: $usb_guest_kernel_dir/vmlinux (the
# uncompressed image, which QEMU starts at its PVH entry without a boot
# loader), config, and lib/modules. Uses an unpacked kernel already in the
# cache when there is one, so a run needs the package archive only once.
usb_guest_fetch_kernel() {
    local dir
    dir=$(ls -d "$usb_guest_cache"/kernel-*/ 2>/dev/null | sort -V | tail -n 1)
    if [ -n "$dir" ] && [ "$(cat "$dir/complete" 2>/dev/null)" = "${usb_guest_module_dirs[*]}" ]; then
        usb_guest_kernel_dir=${dir%/}
        return 0
    fi
    local package
    package=$(usb_guest_kernel_package)
    if [ -z "$package" ]; then
        apt-get update -qq >/dev/null 2>&1 || true
        package=$(usb_guest_kernel_package)
    fi
    [ -n "$package" ] || usb_guest_fail "no kernel package: apt-cache knows no linux-image-amd64" ||
        return 1
    local version=${package#linux-image-}
    usb_guest_kernel_dir=$usb_guest_cache/kernel-$version
    echo "usb guest: fetching $package (once; cached in $usb_guest_cache)"
    local work
    work=$(mktemp -d "$usb_guest_cache/fetch.XXXXXX") || return 1
    if ! (cd "$work" && apt-get download "$package" >/dev/null 2>"$work/apt.err"); then
        apt-get update -qq >/dev/null 2>&1 || true
        (cd "$work" && apt-get download "$package" >/dev/null 2>"$work/apt.err") || {
            cat "$work/apt.err" >&2
            rm -rf "$work"
            usb_guest_fail "apt-get download $package failed"
            return 1
        }
    fi
    mkdir -p "$work/root"
    local wanted=("./boot/vmlinuz-$version" "./boot/config-$version") dir
    for dir in "${usb_guest_module_dirs[@]}"; do
        wanted+=("./lib/modules/$version/kernel/$dir/*")
    done
    dpkg-deb --fsys-tarfile "$work"/*.deb | tar -x -C "$work/root" --wildcards "${wanted[@]}" || {
        rm -rf "$work"
        usb_guest_fail "cannot unpack $package"
        return 1
    }
    # vmlinuz is a self-extracting image; the kernel proper is the XZ stream
    # inside it (the kernel's own extract-vmlinux does the same).
    local image=$work/root/boot/vmlinuz-$version offset
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { rm -rf "$work"; usb_guest_fail "no XZ stream in $image"; return 1; }
    tail -c +$((offset + 1)) "$image" | xz -dc --single-stream >"$work/vmlinux" 2>/dev/null
    if ! file "$work/vmlinux" | grep -q 'ELF 64-bit'; then
        rm -rf "$work"
        usb_guest_fail "the kernel in $package did not unpack"
        return 1
    fi
    rm -rf "$usb_guest_kernel_dir"
    mkdir -p "$usb_guest_kernel_dir"
    mv "$work/vmlinux" "$usb_guest_kernel_dir/vmlinux"
    mv "$work/root/boot/config-$version" "$usb_guest_kernel_dir/config"
    mkdir -p "$usb_guest_kernel_dir/lib"
    mv "$work/root/lib/modules" "$usb_guest_kernel_dir/lib/modules"
    echo "${usb_guest_module_dirs[*]}" >"$usb_guest_kernel_dir/complete"
    rm -rf "$work"
}

# The module file of a module name (dashes and underscores are one), or nothing.
usb_guest_module_file() {
    local name=${1//-/_} file
    while IFS= read -r file; do
        local base
        base=$(basename "$file" .ko)
        if [ "${base//-/_}" = "$name" ]; then
            echo "$file"
            return 0
        fi
    done <"$usb_guest_kernel_dir/module-files"
    return 1
}

# Appends a module and, first, everything it depends on to the load order.
usb_guest_add_module() {
    local name=${1//-/_} params=${2:-} file dep
    [ -z "${usb_guest_loaded[$name]:-}" ] || return 0
    file=$(usb_guest_module_file "$name") ||
        usb_guest_fail "no module $name in the cached kernel (see usb_guest_module_dirs)" ||
        return 1
    for dep in $(modinfo -F depends "$file" | tr ',' ' '); do
        usb_guest_add_module "$dep" || return 1
    done
    usb_guest_loaded[$name]=1
    cp "$file" "$usb_guest_initramfs_root/modules/"
    echo "$(basename "$file" .ko) $params" >>"$usb_guest_initramfs_root/modules/order"
}

# Builds the initramfs (busybox, the modules in load order, the init) unless
# the cache holds one made from the same rows and the same busybox.
usb_guest_make_initramfs() {
    local key
    key=$( (cat "$usb_guest_rows/init" "$usb_guest_rows/modules" /bin/busybox "${BASH_SOURCE[0]}"
        echo "$usb_guest_kernel_dir") | sha256sum | cut -c1-16)
    usb_guest_initramfs=$usb_guest_cache/initramfs-$key.cpio
    [ -f "$usb_guest_initramfs" ] && return 0
    [ -f "$usb_guest_kernel_dir/module-files" ] ||
        find "$usb_guest_kernel_dir/lib/modules" -name '*.ko' >"$usb_guest_kernel_dir/module-files"
    usb_guest_initramfs_root=$(mktemp -d "$usb_guest_cache/initramfs.XXXXXX") || return 1
    local root=$usb_guest_initramfs_root
    # The guest's / (mktemp made it private): everyone may pass through it.
    chmod 755 "$root"
    mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,mnt,usr,modules}
    cp /bin/busybox "$root/bin/busybox"
    # The host's /usr supplies the libraries (merged /usr: /lib is usr/lib).
    ln -s usr/lib "$root/lib"
    ln -s usr/lib64 "$root/lib64"
    cp "$usb_guest_rows/init" "$root/init"
    chmod 755 "$root/init"
    : >"$root/modules/order"
    declare -gA usb_guest_loaded=()
    local name params
    while read -r name params; do
        case "$name" in '' | '#'*) continue ;; esac
        usb_guest_add_module "$name" "$params" || { rm -rf "$root"; return 1; }
    done <"$usb_guest_rows/modules"
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$usb_guest_initramfs.part" &&
        mv "$usb_guest_initramfs.part" "$usb_guest_initramfs"
    rm -rf "$root"
    # Initramfs files of rows changed since are not kept for long.
    find "$usb_guest_cache" -maxdepth 1 -name 'initramfs-*.cpio' -mtime +2 -delete
    [ -f "$usb_guest_initramfs" ] || usb_guest_fail "cannot write $usb_guest_initramfs"
}

usb_guest_prepare() {
    command -v qemu-system-x86_64 >/dev/null ||
        usb_guest_fail "qemu-system-x86_64 is missing (scripts/install-deps usb)" || return 1
    for tool in busybox modinfo cpio xz apt-get dpkg-deb; do
        command -v "$tool" >/dev/null ||
            usb_guest_fail "$tool is missing (scripts/install-deps usb)" || return 1
    done
    mkdir -p "$usb_guest_cache"
    # One preparation at a time: another checkout may be filling the cache.
    local lock status=0
    exec {lock}>"$usb_guest_cache/.lock"
    flock "$lock"
    usb_guest_fetch_kernel && usb_guest_make_initramfs || status=1
    exec {lock}>&-
    return "$status"
}

# usb_guest_run RUN_DIR COMMAND [ARGS...]
# Boots the guest and runs the command there (in /tmp, as root, with the tree
# and the build directories at their host paths). The guest's console (the
# command's output) is shown as it comes and kept in RUN_DIR/console.log;
# RUN_DIR is the guest's /mnt/run, writable for results. Returns the
# command's exit status, or 1 when the guest did not get as far as reporting
# one (it could not boot, or was stopped at the time limit).
usb_guest_run() {
    local run_dir=$1
    shift
    mkdir -p "$run_dir"
    rm -f "$run_dir/status" "$run_dir/console.log"
    {
        printf 'cd /tmp &&'
        printf ' %q' "$@"
        printf '\n'
    } >"$run_dir/command"
    # Shares: tag, then the path it is mounted at (the same as on the host).
    local shares=() mounts="" n=0 dir
    # The window's Qt finds its fonts through the host's fontconfig set-up.
    local fonts=""
    [ -d /etc/fonts ] && fonts=/etc/fonts
    for dir in "$usb_guest_root" ${FLASHTOOL_USB_SHARES:-} $fonts; do
        dir=$(cd "$dir" && pwd)
        shares+=(-fsdev "local,id=share$n,path=$dir,security_model=none,readonly=on"
                 -device "virtio-9p-pci,fsdev=share$n,mount_tag=share$n")
        mounts+="share$n $dir"$'\n'
        n=$((n + 1))
    done
    printf '%s' "$mounts" >"$run_dir/shares"
    local bios=()
    # qboot starts a kernel in a fraction of SeaBIOS's time.
    [ -f /usr/share/qemu/qboot.rom ] && bios=(-bios /usr/share/qemu/qboot.rom)
    # The kernel's clock: the emulated processor's TSC is measured wrongly
    # at boot (the guest's time would run several times too fast), the HPET
    # follows the host's clock. The crypto self-tests and the speculation
    # mitigations only cost emulated time here.
    local append="console=ttyS0 quiet panic=-1 clocksource=hpet cryptomgr.notests mitigations=off"
    rm -f "$run_dir/qemu-status"
    {
        timeout --kill-after=10 "$usb_guest_time_limit" qemu-system-x86_64 \
            -nodefaults -no-user-config -machine pc,accel=tcg -cpu qemu64 -smp 1 \
            -m "$usb_guest_memory" "${bios[@]}" -display none -serial stdio -no-reboot \
            -kernel "$usb_guest_kernel_dir/vmlinux" -initrd "$usb_guest_initramfs" \
            -append "$append" \
            -fsdev local,id=usr,path=/usr,security_model=none,readonly=on \
            -device virtio-9p-pci,fsdev=usr,mount_tag=usr \
            -fsdev "local,id=run,path=$run_dir,security_model=none" \
            -device virtio-9p-pci,fsdev=run,mount_tag=run \
            "${shares[@]}" </dev/null 2>&1
        echo $? >"$run_dir/qemu-status"
    } | tee "$run_dir/console.log"
    local status
    status=$(cat "$run_dir/qemu-status" 2>/dev/null || echo 1)
    if [ ! -f "$run_dir/status" ]; then
        if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
            usb_guest_fail "the guest was stopped after ${usb_guest_time_limit} s"
        else
            usb_guest_fail "the guest ended without running its command (QEMU status $status)"
        fi
        return 1
    fi
    return "$(cat "$run_dir/status")"
}
