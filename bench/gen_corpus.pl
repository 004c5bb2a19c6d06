#!/usr/bin/perl
# Writes a 3GPP-style measurement collection file of about SIZE bytes:
#   gen_corpus.pl SIZE SEED FILE [lists]
# File header, many measInfo blocks with their counter names, many measured objects
# with their values, indented as radio nodes write them; with "lists" in the list form
# (measTypes and measResults) instead of positions (measType p and r p).
use strict;
use warnings;

my ($size, $seed, $file, $form) = @ARGV;
my $lists = ($form // '') eq 'lists';
die "usage: gen_corpus.pl SIZE SEED FILE\n" unless defined $file;
srand($seed);
open(my $out, '>', $file) or die "$file: $!\n";
my $node = sprintf("NODE%04d", int(rand(10000)));
my $written = 0;
sub put { my $text = join('', @_); print $out $text; $written += length($text); }

put(qq{<?xml version="1.0" encoding="UTF-8"?>\n},
    qq{<measCollecFile xmlns="http://www.3gpp.org/ftp/specs/archive/32_series/32.435#measCollec">\n},
    qq{  <fileHeader fileFormatVersion="32.435 V10.0" vendorName="Bench Radio" dnPrefix="SubNetwork=Bench">\n},
    qq{    <fileSender localDn="MeContext=$node" elementType="RadioNode"/>\n},
    qq{    <measCollec beginTime="2011-11-10T13:30:00+01:00"/>\n},
    qq{  </fileHeader>\n  <measData>\n},
    qq{    <managedElement localDn="MeContext=$node" swVersion="CXP9024418_15 R21A"/>\n});
my @kinds = qw(EUtranCellFDD NRCellCU NRCellDU GNBCUUPFunction TermPointToGNodeB SectorCarrier);
my $group = 0;
while ($written < $size - 200) {
    $group++;
    my $kind = $kinds[int(rand(@kinds))];
    my $counters = 5 + int(rand(36));
    put(qq{    <measInfo measInfoId="PM=1,PmGroup=${kind}_$group">\n},
        qq{      <job jobId="all_counters"/>\n},
        qq{      <granPeriod duration="PT900S" endTime="2011-11-10T13:45:00+01:00"/>\n},
        qq{      <repPeriod duration="PT900S"/>\n});
    if ($lists) {
        put(qq{      <measTypes>}, join(' ', map { "pm${kind}Counter$_" } 1 .. $counters), qq{</measTypes>\n});
    } else {
        put(qq{      <measType p="$_">pm${kind}Counter$_</measType>\n}) for 1 .. $counters;
    }
    my $objects = 1 + int(rand(30));
    for my $object (1 .. $objects) {
        put(qq{      <measValue measObjLdn="ManagedElement=$node,ENodeBFunction=1,$kind=$node-$object">\n});
        my @values = map { rand() < 0.05 ? join(',', map { int(rand(100)) } 1 .. 10) : int(rand(1000000)) } 1 .. $counters;
        if ($lists) {
            put(qq{        <measResults>@values</measResults>\n});
        } else {
            put(qq{        <r p="$_">$values[$_ - 1]</r>\n}) for 1 .. $counters;
        }
        put(qq{        <suspect>true</suspect>\n}) if rand() < 0.02;
        put(qq{      </measValue>\n});
    }
    put(qq{    </measInfo>\n});
}
put(qq{  </measData>\n  <fileFooter>\n    <measCollec endTime="2011-11-10T13:45:00+01:00"/>\n  </fileFooter>\n</measCollecFile>\n});
close($out) or die "$file: $!\n";
