# Sourced by the interoperability tests. make_cases DIR writes the compressor's
# test inputs into DIR, one file per case (named after the case); the data is
# the same on every run.
make_cases() {
  local dir=$1
  mkdir -p "$dir"
  # repeat COUNT BYTE(octal escape) > file
  repeat() { head -c "$1" /dev/zero | tr '\0' "$2"; }
  # random COUNT SEED [ALPHABET]: pseudo-random bytes, fixed by the seed
  random() {
    perl -e 'my ($n, $seed, $abc) = @ARGV; my $x = $seed;
             my @a = defined $abc ? split(//, $abc) : map { chr } 0 .. 255;
             my $s = "";
             for (1 .. $n) { $x = ($x * 1103515245 + 12345) % 2147483648; $s .= $a[($x >> 16) % @a]; }
             print $s;' "$@"
  }
  : > "$dir/empty"
  printf 'Z' > "$dir/one_byte"
  printf ' ' > "$dir/one_space"
  repeat 5000 ' ' > "$dir/spaces_5000"
  repeat 5000 '\0' > "$dir/zeros_5000"
  repeat 4095 'x' > "$dir/run_4095"
  repeat 4096 'x' > "$dir/run_4096"
  repeat 4097 'x' > "$dir/run_4097"
  repeat 65536 '\0' > "$dir/zeros_65536"
  repeat 65536 '\377' > "$dir/run_65536"
  random 100000 1 > "$dir/random_100000"
  random 30000 2 'ab ' > "$dir/random_ab_space"
  random 4096 3 > "$dir/block"
  cat "$dir/block" "$dir/block" > "$dir/period_4096"
  rm -f "$dir/block"
  cp /usr/share/common-licenses/GPL-3 "$dir/text_gpl3"
  cat /usr/share/common-licenses/* > "$dir/text_licenses"
  printf 'Zorvik Setup\r\n\r\nこのプログラムはアプリケーションをインストールします。\r\n' > "$dir/text_cp_mixed"
}
