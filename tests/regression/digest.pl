#!/usr/bin/perl
# Sums up one run of a corpus:  digest.pl RUN_DIR [TEXT]
# For every input file: its name, 1 if it was refused ("parsing unsuccessful"), and an MD5
# of its worker's log lines and its output files (names and bytes), which are appended to
# TEXT under "### CORPUS<tab>NAME", so that a moved outcome can be shown.
use strict;
use warnings;
use Digest::MD5 qw(md5_hex);

my ($dir, $text) = @ARGV;
my ($corpus) = $dir =~ m{([^/]+)/*$};
open(my $shown, '>>:raw', $text // '/dev/null') or die "$text: $!\n";
open(my $in, '<:raw', "$dir/log") or die "$dir/log: $!\n";
my (%file_of, %lines, $parent, $pid);
while (my $line = <$in>) {
    if ($line =~ /^\[(\d+)\] \d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d (.*\n?)$/s) {
        ($pid, $line) = ($1, $2);
        $parent //= $pid;
        $file_of{$pid} = $1 if $line =~ /^INFO: processing file = (.*)\n/;
    }
    next if $pid == $parent || !defined $file_of{$pid} || $line =~ /^Info: Process \d+ will finish/;
    $lines{$file_of{$pid}} .= $line;
}
opendir(my $dh, "$dir/output") or die "$dir/output: $!\n";
my @outputs = sort readdir($dh);
for my $name (sort keys %lines) {
    my $digest = Digest::MD5->new;
    $digest->add($lines{$name}, "\0");
    print $shown "### $corpus\t$name\n", $lines{$name};
    if ($name =~ /_(\d{8})_(\d{4})/) {
        my $stamp = substr($1, 2) . $2;
        for my $out (grep { /^\Q$stamp\E_/ } @outputs) {
            open(my $fh, '<:raw', "$dir/output/$out") or die "$out: $!\n";
            local $/;
            my $bytes = <$fh> // '';
            $digest->add($out, "\0", $bytes, "\0");
            print $shown "--- $out\n", $bytes =~ s/(?<!\n)\z/\n/r;
        }
    }
    print join("\t", $name, $lines{$name} =~ /^ERROR: parsing unsuccessful$/m ? 1 : 0, $digest->hexdigest), "\n";
}
