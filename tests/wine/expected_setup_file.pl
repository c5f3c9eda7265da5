#!/usr/bin/perl
# expected_setup_file.pl OUT PROGRAM BLOCK1 BLOCK2 BLOCK3 BLOCK4 ('-' for an absent block):
# writes the temporary setup file the stub must produce, built here independently of the
# project's code: the program, the non-empty blocks back to back, and the trailer with zero
# in its first 16 bytes, each block's new offset and size (0 and 0 if absent), "KivSetup".
use strict;
use warnings;

my ($out, $program, @blocks) = @ARGV;
die "usage: expected_setup_file.pl OUT PROGRAM B1 B2 B3 B4\n" unless @blocks == 4;

sub slurp {
    my ($path) = @_;
    open(my $in, '<:raw', $path) or die "cannot read '$path': $!\n";
    local $/;
    my $bytes = <$in>;
    return defined $bytes ? $bytes : '';
}

my $file = slurp($program);
my $trailer = pack('V4', 0, 0, 0, 0);
for my $block (@blocks) {
    my $bytes = $block eq '-' ? '' : slurp($block);
    if (length $bytes) {
        $trailer .= pack('V2', length($file), length($bytes));
        $file .= $bytes;
    } else {
        $trailer .= pack('V2', 0, 0);
    }
}
$trailer .= 'KivSetup';
open(my $fh, '>:raw', $out) or die "cannot write '$out': $!\n";
print $fh $file . $trailer;
close($fh) or die "cannot write '$out': $!\n";
