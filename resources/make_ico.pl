#!/usr/bin/perl
# make_ico.pl ICON.txt OUT.ico: builds the 32 x 32, 16-colour icon from its text form
# (palette lines "letter = RRGGBB", then 32 rows of 32 letters; '.' is transparent).
use strict;
use warnings;

my ($source, $target) = @ARGV;
die "usage: make_ico.pl ICON.txt OUT.ico\n" unless defined $target;
open(my $in, '<', $source) or die "make_ico: cannot read '$source': $!\n";

my (@palette, %index, @rows);
while (my $line = <$in>) {
    chomp $line;
    next if $line =~ /^#/ || $line eq '';
    if ($line =~ /^(\S) = ([0-9A-Fa-f]{6})$/) {
        die "make_ico: more than 16 colours\n" if @palette == 16;
        $index{$1} = scalar @palette;
        push @palette, hex($2);
    } elsif ($line =~ /^\S{32}$/) {
        push @rows, $line;
    } else {
        die "make_ico: $source: cannot read line '$line'\n";
    }
}
die "make_ico: $source: 32 rows needed, found " . scalar(@rows) . "\n" unless @rows == 32;
die "make_ico: $source: no '.' colour\n" unless exists $index{'.'};

my ($pixels, $mask) = ('', '');
for my $row (reverse @rows) {    # bottom-up, as bitmaps are stored
    my ($nibbles, $bits) = ('', '');
    for my $letter (split //, $row) {
        die "make_ico: $source: letter '$letter' has no colour\n" unless exists $index{$letter};
        $nibbles .= sprintf('%x', $index{$letter});
        $bits .= $letter eq '.' ? '1' : '0';
    }
    $pixels .= pack('H*', $nibbles);
    $mask .= pack('B32', $bits);
}
push @palette, 0 while @palette < 16;
my $colours = join('', map { pack('CCCC', $_ & 0xFF, ($_ >> 8) & 0xFF, $_ >> 16, 0) } @palette);

my $header = pack('VVVvvVVVVVV', 40, 32, 64, 1, 4, 0, length($pixels) + length($mask), 0, 0, 16, 0);
my $image = $header . $colours . $pixels . $mask;
my $directory = pack('vvv', 0, 1, 1) . pack('CCCCvvVV', 32, 32, 16, 0, 1, 4, length($image), 22);

open(my $out, '>:raw', "$target.tmp") or die "make_ico: cannot write '$target': $!\n";
print $out $directory . $image;
close($out) or die "make_ico: cannot write '$target': $!\n";
rename("$target.tmp", $target) or die "make_ico: cannot write '$target': $!\n";
