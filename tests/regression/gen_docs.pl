#!/usr/bin/perl
# Writes XML documents for the regression test into DIR:
#   gen_docs.pl DIR SEED RANDOM_COUNT
# First a fixed set that covers entities, CDATA, comments, processing instructions,
# namespaces, encodings and whitespace layouts, each in a few variants; then RANDOM_COUNT
# random well-formed documents. Names carry distinct "_yyyyMMdd_hhmm" stamps.
use strict;
use warnings;
use POSIX qw(strftime);
use Encode qw(encode);

my ($dir, $seed, $random_count) = @ARGV;
die "usage: gen_docs.pl DIR SEED RANDOM_COUNT\n" unless defined $random_count;
srand($seed);
my $count = 0;

sub write_doc {
    my ($tag, $bytes) = @_;
    my $stamp = strftime('%Y%m%d_%H%M', gmtime(946684800 + 60 * $count++));
    open(my $out, '>:raw', "$dir/${tag}_$stamp.xml") or die "$dir: $!\n";
    print $out $bytes;
}

my @bodies = (
    '<doc><a>x &lt; y &gt; z &amp; &apos;q&apos; &quot;r&quot;</a></doc>',
    '<doc><a id="&lt;&amp;&gt;&quot;&apos;">v</a><value>&#65;&#x42;&#233;&#x20AC;&#x1F600;</value></doc>',
    '<doc><item id="1">a&amp;b<b name="n&#9;t">in</b>after&#10;line</item></doc>',
    '<doc><a><![CDATA[<not> & markup]]></a></doc>',
    '<doc><a>before<![CDATA[inside]]>after</a><b><![CDATA[]]></b><c>x<![CDATA[1]]><![CDATA[2]]></c></doc>',
    '<doc><value><![CDATA[ ]] ]> ]]]]><![CDATA[>]]></value></doc>',
    '<!-- head --><doc><a>one<!-- c -->two</a><b><!-- only --></b></doc><!-- tail -->',
    '<?pi before?><doc><a>x<?pi inside?>y</a><c>1<?p?></c></doc><?pi after?>',
    '<doc xmlns="urn:d" xmlns:p="urn:p"><p:item p:id="1" id="2">x</p:item><item id="3"/></doc>',
    '<doc xmlns:p="urn:p" xmlns:q="urn:q"><item p:id="a" q:id="b">v</item><q:value>w</q:value></doc>',
    '<p:doc xmlns:p="urn:p"><p:item><p:value>deep</p:value></p:item></p:doc>',
    "<doc>\n  <item id=\"1\">\n    <value>1</value>\n  </item>\n\t<item id = '2' >\t<value>2</value>\t</item>\n</doc>\n",
    "<doc>\r\n  <item id=\"a\r\nb\">\r\n    <value>1\r\n2</value>\r\n  </item>\r\n</doc>\r\n",
    "<doc>\r  <a>cr\ronly</a>\r</doc>",
    "<doc><a>   </a><b>\n</b><c> x </c><item id=\" spaced \tvalue\n\"/></doc>",
    # long text, split by the readers' buffers
    '<doc><a>' . ('0123456789' x 40) . '</a><value>' . ('abc&amp;' x 9000) . '</value></doc>',
    '<!DOCTYPE doc [<!ENTITY e "expanded"><!ENTITY big "x&e;y">]><doc><a>&e;</a><b name="&big;">&big;</b></doc>',
    '<!DOCTYPE doc SYSTEM "missing.dtd"><doc><a>x</a></doc>',
    '<doc/>', '<doc><a><a><a>nested</a></a></a><item/><item></item></doc>',
    # not well-formed
    '<doc><a></b></doc>', '<doc><a>unclosed</doc>', '<doc>&undefined;</doc>', '<doc><a id="1" id="2"/></doc>',
    '<doc></doc><second/>', '<doc><a>x</a>', '',
);

my %decl = (utf8 => '<?xml version="1.0" encoding="UTF-8"?>', none => '',
            lower => "<?xml version='1.0' encoding='utf-8'?>", plain => '<?xml version="1.0"?>');
for my $body (@bodies) {
    write_doc("feat_$_", encode('UTF-8', $decl{$_} . $body)) for sort keys %decl;
    write_doc('feat_bom', encode('UTF-8', "\x{FEFF}$decl{utf8}$body"));
    write_doc("feat_utf16\L$_", encode("UTF-16$_", "\x{FEFF}<?xml version=\"1.0\" encoding=\"UTF-16\"?>$body")) for 'LE', 'BE';
    (my $latin = $body) =~ s/[^\x00-\xff]/?/g;
    write_doc('feat_latin1', encode('ISO-8859-1', '<?xml version="1.0" encoding="ISO-8859-1"?>' . $latin . "<!-- \xe9 -->"));
}
write_doc('feat_latin1text', encode('ISO-8859-1', "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><doc><a>caf\xe9</a></doc>"));
write_doc('feat_utf8text', encode('UTF-8', "<doc><a>caf\x{e9} \x{20ac} \x{1F600}</a><item id=\"\x{e9}\"/></doc>"));

# Random well-formed documents over a small vocabulary, so that the columns see them.
my @names = qw(doc a b c item value p:item q:value);
my @attrs = qw(id name p:id q:id x);
sub text_piece {
    my $r = rand();
    return ('plain', 'x y', '12', '  ', "\n    ", "t\tab")[int(rand(6))] if $r < 0.5;
    return ('&amp;', '&lt;', '&#65;', '&#x20AC;', '&quot;')[int(rand(5))] if $r < 0.7;
    return '<![CDATA[' . ('c', '<x>', '', ']]')[int(rand(4))] . ']]>' if $r < 0.8;
    return '<!--' . ('c', '', '-x')[int(rand(3))] . '-->' if $r < 0.9;
    return '<?pi ' . ('d', '')[int(rand(2))] . '?>';
}
sub element {
    my ($depth, %seen) = @_;
    my $name = $names[int(rand(@names))];
    my $out = "<$name";
    for (1 .. int(rand(3))) {
        my $attr = $attrs[int(rand(@attrs))];
        next if $seen{$attr}++;
        my $value = ('1', 'a b', '&amp;x', "t\tv", ' ', '&#10;', "l\nf")[int(rand(7))];
        $out .= ' ' x (1 + int(rand(2))) . qq{$attr="$value"};
    }
    $out .= ' xmlns:p="urn:p" xmlns:q="urn:q"' if $depth == 0;
    return "$out/>" if rand() < 0.15;
    $out .= '>';
    $out .= rand() < 0.4 && $depth < 6 ? element($depth + 1) : text_piece() for 1 .. int(rand(5));
    return "$out</$name>";
}
for (1 .. $random_count) {
    my $doc = element(0);
    $doc =~ s/\n/\r\n/g if rand() < 0.1;
    write_doc('random', encode('UTF-8', (rand() < 0.5 ? $decl{utf8} : '') . $doc));
}
