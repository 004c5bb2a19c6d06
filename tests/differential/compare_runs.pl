#!/usr/bin/perl
# Compares a run of strandor with one of strandor-qtreader over the same input:
#   compare_runs.pl FAST_DIR QT_DIR [NOT_WF_LIST]
# Each directory holds the run's "log" and "output/". For every input file the log lines
# of its worker and its output files must be identical; the fast reader's note that it
# gave a file up is counted, not compared. Files listed in NOT_WF_LIST (not well-formed)
# may differ: their differences are reported. Exits 1 if any other file differs.
use strict;
use warnings;

my ($fast_dir, $qt_dir, $not_wf_list) = @ARGV;
my %not_wf;
if ($not_wf_list) {
    open(my $in, '<', $not_wf_list) or die "$not_wf_list: $!\n";
    chomp(my @names = <$in>);
    $not_wf{$_} = 1 for @names;
}

# Worker log lines per input file, without the entry prefixes.
sub worker_logs {
    my ($file, $declined) = @_;
    open(my $in, '<:raw', $file) or die "$file: $!\n";
    my (%file_of, %lines, $parent, $pid);
    while (my $line = <$in>) {
        if ($line =~ /^\[(\d+)\] \d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d (.*\n?)$/s) {
            $pid = $1;
            $parent //= $pid;
            $line = $2;
            $file_of{$pid} = $1 if $line =~ /^INFO: processing file = (.*)\n/;
        }
        next if $pid == $parent || !defined $file_of{$pid};
        my $name = $file_of{$pid};
        if ($line =~ /^DEBUG: fast reader gave up \((.*)\)/) {
            $declined->{$name} = $1;
            next;
        }
        $line =~ s/^Info: Process \d+ will finish/Info: Process PID will finish/;
        $lines{$name} .= $line;
    }
    return \%lines;
}

sub outputs_of {
    my ($dir, $input) = @_;
    return () unless $input =~ /_(\d{8})_(\d{4})/;
    my $stamp = substr($1, 2) . $2;
    opendir(my $dh, $dir) or die "$dir: $!\n";
    return sort grep { /^\Q$stamp\E_/ } readdir($dh);
}

sub slurp {
    open(my $in, '<:raw', $_[0]) or return "(missing)";
    local $/;
    return <$in>;
}

my (%declined, %unused);
my $fast = worker_logs("$fast_dir/log", \%declined);
my $qt = worker_logs("$qt_dir/log", \%unused);
my ($same, $differ, $tolerated, $qt_rejected, $fast_accepted_qt_rejected) = (0, 0, 0, 0, 0);
my ($not_wf_files, $not_wf_qt, $not_wf_libxml2, $libxml2_only_rejected) = (0, 0, 0, 0);
my @libxml2_only;
my %reasons;
for my $name (sort keys %$qt) {
    my $qt_failed = $qt->{$name} =~ /ERROR: parsing unsuccessful/;
    $qt_rejected++ if $qt_failed;
    $reasons{$declined{$name}}++ if defined $declined{$name};
    my $libxml2_failed = ($declined{$name} // '') eq 'parser diagnostic';
    if ($not_wf{$name}) {
        $not_wf_files++;
        $not_wf_qt++ if $qt_failed;
        $not_wf_libxml2++ if $libxml2_failed;
    }
    if ($libxml2_failed && !$qt_failed) {
        $libxml2_only_rejected++;
        push @libxml2_only, $name;
    }
    my @fast_out = outputs_of("$fast_dir/output", $name);
    my @qt_out = outputs_of("$qt_dir/output", $name);
    my $equal = ($fast->{$name} // '') eq $qt->{$name} && "@fast_out" eq "@qt_out";
    for my $out (@qt_out) {
        $equal &&= slurp("$fast_dir/output/$out") eq slurp("$qt_dir/output/$out");
    }
    if ($equal) {
        $same++;
        next;
    }
    $fast_accepted_qt_rejected++ if $qt_failed && !defined $declined{$name};
    if ($not_wf{$name}) {
        $tolerated++;
        print "  not well-formed, readers differ: $name\n";
    } else {
        $differ++;
        print "  DIFFERENT: $name\n";
        print "    QXmlSimpleReader log:\n", map({ "      $_\n" } split /\n/, $qt->{$name});
        print "    fast reader log:\n", map({ "      $_\n" } split /\n/, $fast->{$name} // '');
    }
}
my $files = keys %$qt;
my $fast_rejected = $reasons{'parser diagnostic'} // 0;
print "  files: $files, identical: $same, different: $differ, not well-formed and different: $tolerated\n";
print "  QXmlSimpleReader rejected: $qt_rejected; libxml2 rejected: $fast_rejected;",
      " accepted by libxml2 but rejected by QXmlSimpleReader: $fast_accepted_qt_rejected\n";
print "  rejected by libxml2, accepted by QXmlSimpleReader: $libxml2_only_rejected",
      (@libxml2_only ? " (" . join(' ', @libxml2_only[0 .. ($#libxml2_only < 9 ? $#libxml2_only : 9)]) . ")" : ''), "\n";
print "  not well-formed: $not_wf_files, rejected by QXmlSimpleReader: $not_wf_qt, by libxml2: $not_wf_libxml2\n"
    if $not_wf_list;
print "  fast reader gave up: ", join(', ', map { "$_ $reasons{$_}" } sort keys %reasons) || 'never', "\n";
print "  no file was converted\n" unless $files;
exit($differ || !$files ? 1 : 0);
