#!/usr/bin/perl
# make_block4.pl OUT: writes block 4 of the demo package, kept as block4_data.bin: every
# byte value once (NUL, CR, LF and Ctrl-Z among them catch a copy made in text mode), then a
# fixed-seed pseudo-random run, 6,000 bytes in all, so that a 4,096-byte copy loop takes two chunks.
use strict;
use warnings;

my ($target) = @ARGV;
die "usage: make_block4.pl OUT\n" unless defined $target;
my $bytes = join('', map { chr } 0 .. 255);
my $state = 20240601;
while (length($bytes) < 6000) {
    $state = ($state * 48271) % 2147483647;  # Park and Miller's: exact even in doubles
    $bytes .= chr($state & 0xFF);
}
open(my $out, '>:raw', $target) or die "make_block4: cannot write '$target': $!\n";
print $out $bytes or die "make_block4: cannot write '$target': $!\n";
close($out) or die "make_block4: cannot write '$target': $!\n";
