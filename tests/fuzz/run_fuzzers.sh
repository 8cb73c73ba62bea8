#!/usr/bin/env bash
# Builds the three fuzzers with clang (libFuzzer + AddressSanitizer + UBSan) and runs each for SECONDS
# (default 600) on its seed corpus, niced. Needs Debian's clang and libclang-rt-14-dev.
#   tests/fuzz/run_fuzzers.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-600}
out=${VOX_FUZZ_DIR:-$root/build/fuzz}
mkdir -p "$out/reply" "$out/mx" "$out/address"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root/src")
clang++ "${flags[@]}" "$here/reply_reader_fuzz.cpp" "$root/src/delivery/smtp_reply.cpp" \
  "$root/src/base/number_text.cpp" -o "$out/reply_reader_fuzz"
clang++ "${flags[@]}" "$here/mx_answer_fuzz.cpp" "$root/src/delivery/mx_resolver.cpp" -lresolv \
  -o "$out/mx_answer_fuzz"
clang++ "${flags[@]}" "$here/address_fuzz.cpp" "$root/src/compose/address_list.cpp" \
  "$root/src/compose/mail_address.cpp" "$root/src/compose/header_encoding.cpp" \
  "$root/src/compose/mail_charset.cpp" "$root/src/compose/base64.cpp" "$root/src/base/regular_file.cpp" \
  "$root/src/base/text_rules.cpp" -lidn2 -o "$out/address_fuzz"
# New inputs go to the build folder; the seeds in tests/ stay as they are.
nice -n 10 "$out/reply_reader_fuzz" -max_total_time="$seconds" -max_len=4096 "$out/reply" "$here/corpus/reply" &
reply=$!
nice -n 10 "$out/mx_answer_fuzz" -max_total_time="$seconds" -max_len=4096 "$out/mx" "$here/corpus/mx" &
mx=$!
nice -n 10 "$out/address_fuzz" -max_total_time="$seconds" -max_len=4096 "$out/address" "$here/corpus/address" &
address=$!
status=0
wait $reply || status=1
wait $mx || status=1
wait $address || status=1
exit $status
