#!/usr/bin/perl
# Compares a corpus run with what 0.8.1 gave (expected.tsv):
#   check.pl EXPECTED.TSV CORPUS DIGESTS [NOT_WF_LIST]
# "same" and "sound" documents must give their recorded digest (log and output files),
# "refused" ones must be refused. Prints the counts, and the not-well-formed documents
# that are accepted. Exits 1 on any difference.
use strict;
use warnings;

my ($expected_file, $corpus, $digests, $not_wf_list) = @ARGV;
my (%expected, %not_wf, %count, %excused, @differ, @accepted_not_wf);
open(my $in, '<', $expected_file) or die "$expected_file: $!\n";
while (<$in>) {
    chomp;
    my ($c, $name, $kind, $digest) = split /\t/;
    $expected{$name} = [$kind, $digest] if $c eq $corpus;
}
if ($not_wf_list) {
    open($in, '<', $not_wf_list) or die "$not_wf_list: $!\n";
    while (<$in>) {
        chomp;
        my ($name, $excuse) = split /\t/, $_, -1;
        $not_wf{$name} = $excuse || 'must be refused';
    }
}
open($in, '<', $digests) or die "$digests: $!\n";
while (<$in>) {
    chomp;
    my ($name, $refused, $digest) = split /\t/;
    my ($kind, $want) = @{$expected{$name} // ['missing', '']};
    delete $expected{$name};
    $count{$kind}++;
    my $good = $kind eq 'refused' ? $refused : $kind eq 'unchecked' ? 1 : $digest eq ($want // '');
    push @differ, "$name ($kind)" unless $good;
    next unless $not_wf{$name};
    $excused{$not_wf{$name}}{$refused ? 'refused' : 'accepted'}++;
    push @accepted_not_wf, $name if $not_wf{$name} eq 'must be refused' && !$refused;
}
push @differ, map { "$_ (not converted)" } sort keys %expected;
printf "  %s: %s\n", $corpus, join(', ', map { "$count{$_} $_" } sort keys %count);
for my $excuse (sort keys %excused) {
    printf "  not well-formed, %s: %d refused, %d accepted\n", $excuse,
        $excused{$excuse}{refused} // 0, $excused{$excuse}{accepted} // 0;
}
print "  accepted although not well-formed: @accepted_not_wf\n" if @accepted_not_wf;
print "  DIFFERENT: $_\n" for @differ;
exit(@differ ? 1 : 0);
