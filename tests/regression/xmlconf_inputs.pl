#!/usr/bin/perl
# Prepares the W3C XML conformance suite for the regression test:
#   xmlconf_inputs.pl SUITE_DIR INPUT_DIR NOT_WF_LIST > strandor.conf
# Copies each test document of the suite's catalogues into INPUT_DIR under a stamped name,
# lists the not-well-formed ones in NOT_WF_LIST with why a processor like ours may accept one,
# and prints a configuration whose columns follow the most used element and attribute names.
use strict;
use warnings;
use File::Find;
use File::Basename qw(dirname);
use File::Copy qw(copy);
use POSIX qw(strftime);

my ($suite, $input, $not_wf_list) = @ARGV;
die "usage: xmlconf_inputs.pl SUITE_DIR INPUT_DIR NOT_WF_LIST\n" unless defined $not_wf_list;

my @catalogues;
find(sub { push @catalogues, $File::Find::name if /\.xml$/ }, $suite);
my (%type_of, %excuse_of, @documents);
for my $catalogue (sort @catalogues) {
    open(my $in, '<:raw', $catalogue) or next;
    my $text = do { local $/; <$in> };
    while ($text =~ /<TEST\b([^>]*)>/gs) {
        my %a = $1 =~ /(\w+)\s*=\s*["']([^"']*)["']/g;
        next unless $a{TYPE} && $a{URI};
        my $path = dirname($catalogue) . "/$a{URI}";
        next if !-f $path || exists $type_of{$path};
        $type_of{$path} = $a{TYPE};
        $excuse_of{$path} = $a{TYPE} eq 'error' ? 'an optional error'
                          : ($a{ENTITIES} // 'none') ne 'none' ? 'external entity'
                          : ($a{RECOMMENDATION} // '') =~ /1\.1/ || ($a{VERSION} // '') =~ /^1\.1/ ? 'XML 1.1'
                          : defined $a{EDITION} && $a{EDITION} !~ /5/ ? 'before the fifth edition' : '';
        push @documents, $path;
    }
}

my (%elements, %pairs);
open(my $not_wf, '>', $not_wf_list) or die "$not_wf_list: $!\n";
for my $index (0 .. $#documents) {
    my $path = $documents[$index];
    my $name = sprintf('xc%04d_%s.xml', $index, strftime('%Y%m%d_%H%M', gmtime(946684800 + 60 * $index)));
    copy($path, "$input/$name") or die "$path: $!\n";
    print $not_wf "$name\t$excuse_of{$path}\n" unless $type_of{$path} =~ /^(valid|invalid)$/;
    open(my $in, '<:raw', $path) or next;
    my $text = do { local $/; <$in> };
    while ($text =~ /<([A-Za-z_][\w.:-]*)([^<>]*)>/g) {
        my ($element, $attrs) = ($1, $2);
        $elements{$element}++;
        $pairs{"$element $1"}++ while $attrs =~ /([A-Za-z_][\w.:-]*)\s*=/g;
    }
}
close($not_wf);

my @top_elements = (sort { $elements{$b} <=> $elements{$a} || $a cmp $b } keys %elements)[0 .. 59];
my @top_pairs = (sort { $pairs{$b} <=> $pairs{$a} || $a cmp $b } keys %pairs)[0 .. 39];
my $column = 0;
print qq(GLOBALS { HEADER_SIZE_MAX 100 COLUMN_SEPARATOR "|" }\n),
    qq(INPUTFILE "^xc" { GENERATES MEASUREMENT { MEASUREMENTNAME "all" GRANULARITY EVENT MATCH { VOID }\n  COLUMNS {\n),
    (map { sprintf qq(    ATTRIBUTE ( "%s" ) "e%d"\n), $_, ++$column } grep { defined } @top_elements),
    (map { my ($element, $attr) = split / /; $attr =~ s/^.*://;
            sprintf qq(    ARGATTRIBUTE ( "%s", "%s" ) "a%d"\n), $element, $attr, ++$column }
     grep { defined } @top_pairs),
    "  }\n} }\n";
