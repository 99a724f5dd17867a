# shellcheck shell=bash
# Sourced by scripts/demo and scripts/try-window: a sample firmware image for
# the virtual phone, and the check that the phone's flash holds it.

# The sample's version: the phone's code and language, a newer number.
sample_version="CVLbootloaderVC_M418ZHTWA00101"
sample_first_start=$((0x00010000))
sample_first_length=196608
sample_second_start=$((0x00200000))
sample_second_length=20000
sample_header_length=$((25 + 32))

# make_sample_image FILE: a big-endian header, the version record and two
# regions of random bytes.
make_sample_image() {
    be16() { printf "\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 & 255)))"; }
    be32() { be16 $(($1 >> 16 & 65535)); be16 $(($1 & 65535)); }
    {
        be16 "$sample_header_length"; be16 32
        printf '%s\0\0' "$sample_version"          # 32-byte version record
        printf '\0'                                # reserved
        be32 "$sample_first_start"; be32 $((sample_first_start + sample_first_length - 1))
        printf '\0\0\0\0'                          # reserved
        be32 "$sample_second_start"; be32 $((sample_second_start + sample_second_length - 1))
        head -c "$sample_first_length" /dev/urandom
        head -c "$sample_second_length" /dev/urandom
    } >"$1"
}

# flash_holds_sample FLASH IMAGE: whether the virtual phone's flash file holds
# exactly the image's two regions. The flash file: "VPHFLASH", u32 count, then
# per region u32 start, u32 announced length, u32 byte count and the bytes
# (little-endian).
flash_holds_sample() {
    local flash=$1 image=$2
    le32_at() { od -An -tu4 -j "$2" -N4 --endian=little "$1" | tr -d ' '; }
    local expected_size=$((12 + 12 + sample_first_length + 12 + sample_second_length))
    local second_at=$((24 + sample_first_length))
    [ -f "$flash" ] || return 1
    [ "$(head -c 8 "$flash")" = "VPHFLASH" ] || return 1
    [ "$(stat -c %s "$flash")" -eq "$expected_size" ] || return 1
    [ "$(le32_at "$flash" 12)" -eq "$sample_first_start" ] || return 1
    [ "$(le32_at "$flash" "$second_at")" -eq "$sample_second_start" ] || return 1
    cmp -s -n "$sample_first_length" -i "24:$sample_header_length" "$flash" "$image" || return 1
    cmp -s -n "$sample_second_length" \
        -i "$((second_at + 12)):$((sample_header_length + sample_first_length))" \
        "$flash" "$image"
}
