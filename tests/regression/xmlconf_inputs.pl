#!/usr/bin/perl
# Prepares the W3C XML conformance suite for the regression test:
#   xmlconf_inputs.pl SUITE_DIR INPUT_DIR NOT_WF_LIST > strandor.conf
# Copies every test document listed in the suite's catalogues into INPUT_DIR under a
# stamped name, lists the not-well-formed ones in NOT_WF_LIST (name, and why a processor
# like ours may accept it: an error only in an external entity, which is never read, an
# XML 1.1 rule, a rule that the fifth edition dropped, or an error that a processor need
# not report), and prints a configuration
# whose columns follow the element and attribute names most used in the documents.
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
    local $/;
    my $text = <$in>;
    next unless $text =~ /<TEST\b/;
    while ($text =~ /<TEST\b([^>]*)>/gs) {
        my $attrs = $1;
        my ($type) = $attrs =~ /TYPE\s*=\s*["']([^"']*)["']/;
        my ($uri) = $attrs =~ /URI\s*=\s*["']([^"']*)["']/;
        next unless $type && $uri;
        my $path = dirname($catalogue) . "/$uri";
        next if !-f $path || exists $type_of{$path};
        $type_of{$path} = $type;
        my ($entities) = $attrs =~ /ENTITIES\s*=\s*["']([^"']*)["']/;
        my ($edition) = $attrs =~ /EDITION\s*=\s*["']([^"']*)["']/;
        my ($recommendation) = $attrs =~ /RECOMMENDATION\s*=\s*["']([^"']*)["']/;
        $excuse_of{$path} = $type eq 'error' ? 'an optional error'
                          : ($entities // 'none') ne 'none' ? 'external entity'
                          : ($recommendation // '') =~ /1\.1/ || $attrs =~ /VERSION\s*=\s*["']1\.1/ ? 'XML 1.1'
                          : defined $edition && $edition !~ /5/ ? 'before the fifth edition' : '';
        push @documents, $path;
    }
}

my (%elements, %pairs);
open(my $not_wf, '>', $not_wf_list) or die "$not_wf_list: $!\n";
my $index = 0;
for my $path (@documents) {
    my $name = sprintf('xc%04d_%s.xml', $index, strftime('%Y%m%d_%H%M', gmtime(946684800 + 60 * $index)));
    $index++;
    copy($path, "$input/$name") or die "$path: $!\n";
    print $not_wf "$name\t$excuse_of{$path}\n" unless $type_of{$path} =~ /^(valid|invalid)$/;
    open(my $in, '<:raw', $path) or next;
    local $/;
    my $text = <$in>;
    while ($text =~ /<([A-Za-z_][\w.:-]*)([^<>]*)>/g) {
        my ($element, $attrs) = ($1, $2);
        $elements{$element}++;
        $pairs{"$element $1"}++ while $attrs =~ /([A-Za-z_][\w.:-]*)\s*=/g;
    }
}
close($not_wf);

my @top_elements = (sort { $elements{$b} <=> $elements{$a} || $a cmp $b } keys %elements)[0 .. 59];
my @top_pairs = (sort { $pairs{$b} <=> $pairs{$a} || $a cmp $b } keys %pairs)[0 .. 39];
print qq(GLOBALS { HEADER_SIZE_MAX 100 COLUMN_SEPARATOR "|" }\n);
print qq(INPUTFILE "^xc" { GENERATES MEASUREMENT { MEASUREMENTNAME "all" GRANULARITY EVENT MATCH { VOID }\n);
print qq(  COLUMNS {\n);
my $column = 0;
for my $element (grep { defined } @top_elements) {
    $column++;
    print qq(    ATTRIBUTE ( "$element" ) "e$column"\n);
}
for my $pair (grep { defined } @top_pairs) {
    my ($element, $attr) = split / /, $pair;
    $attr =~ s/^.*://;
    $column++;
    print qq(    ARGATTRIBUTE ( "$element", "$attr" ) "a$column"\n);
}
print "  }\n} }\n";
