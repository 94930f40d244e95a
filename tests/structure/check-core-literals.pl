#!/usr/bin/perl
# Fails when a core source (common, storage, transport) holds Japanese in a
# string or character literal: the core reports kinds and details, the texts
# word them. Comments may say anything. The files listed below hold Japanese
# that is data written into records, mail or folder names, not words for the user.
# Usage: check-core-literals.pl SOURCE_ROOT   (the folder holding src/)
use strict;
use warnings;

my $root = shift // die "source root\n";
my %data = map { $_ => 1 } qw(
    src/common/AppDir.h
    src/common/Cp932.h
    src/common/Cp932.cpp
    src/transport/Charset.cpp
    src/transport/Mime.cpp
    src/transport/ReceiveMail.h
);
# UTF-8 lead bytes of U+3000-U+9FFF (kana, CJK punctuation, kanji) and of the
# full-width forms U+FF00-U+FFEF.
my $japanese = qr/[\xE3-\xE9]|\xEF[\xBC-\xBF]/;

my @files;
sub walk {
    my ($dir) = @_;
    opendir(my $dh, $dir) or return;
    for my $name (sort readdir $dh) {
        next if $name =~ /^\./;
        my $path = "$dir/$name";
        if (-d $path) { walk($path) }
        elsif ($name =~ /\.(?:h|hpp|cpp)$/) { push @files, $path }
    }
    closedir $dh;
}
walk("$root/src/$_") for qw(common storage transport);

my $failed = 0;
for my $path (@files) {
    (my $relative = $path) =~ s{^\Q$root\E/}{};
    next if $data{$relative};
    open(my $fh, '<:raw', $path) or die "$path: $!\n";
    my $text = do { local $/; <$fh> };
    close $fh;
    # Leftmost token first, so a quote inside a comment or a slash inside a
    # literal is read as what it is.
    while ($text =~ m{ (//[^\n]*) | (/\*.*?\*/)
                     | ((?:u8|u|U|L)?R"([^(\s"\\]{0,16})\(.*?\)\4")
                     | ((?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
                     | ((?:u8|u|U|L)?'(?:\\.|[^'\\\n])*') }gsx) {
        my $start = $-[0];
        my $literal = $3 // $5 // $6;
        next unless defined $literal && $literal =~ $japanese;
        my $line = 1 + (substr($text, 0, $start) =~ tr/\n//);
        print "  $relative:$line: $literal\n";
        $failed = 1;
    }
}
if ($failed) {
    print "Japanese in a core literal: word it in src/texts/ and report a kind (see docs/architecture.md)\n";
    exit 1;
}
print "no Japanese in core literals\n";
exit 0;
