#!/usr/bin/env python3
"""make-messages.py FOLDER N: N realistic Japanese messages (CRLF), one file each.
ISO-2022-JP and UTF-8 subjects, senders and bodies of 1-10 KB; every eighth
message carries a base64 attachment of 50-500 KB with a Japanese RFC 2231 name.
Seeded, so every run and every client sees the same mail."""
import base64
import os
import random
import sys
import urllib.parse

LINES = ["お世話になっております。", "来週の定例会議の資料をお送りします。", "ご確認のほどよろしくお願いいたします。",
         "日程は以下のとおりです。", "会場：本社３階　第２会議室", "不明な点がございましたらご連絡ください。",
         "何卒よろしくお願い申し上げます。", "..ドットで始まる行も正しく届くこと。", ".", "Best regards,"]
UTF8_ONLY = ["①議事録 ②見積書 ③請求書", "株式会社㈱テスト　営業部", "～以上です～"]


def crlf_base64(data):
    return base64.encodebytes(data).decode().replace("\n", "\r\n")


def message(i, rng):
    utf8 = i % 3 == 0
    pool = LINES + UTF8_ONLY if utf8 else LINES
    lines = [rng.choice(pool) for _ in range(rng.randint(30, 250))]
    subject = "【定例】会議資料の送付について（第%d回）" % i
    sender = "営業部 山田%d" % i
    if utf8:
        charset, enc = "UTF-8", lambda s: s.encode()
        body, cte = crlf_base64("\r\n".join(lines).encode()), "base64"
    else:
        charset, enc = "ISO-2022-JP", lambda s: s.encode("iso2022_jp")
        body, cte = "\r\n".join(l.encode("iso2022_jp").decode("ascii") for l in lines) + "\r\n", "7bit"
    head = ("Return-Path: <sender%d@example.jp>\r\n"
            "Received: from mx.example.jp by mail.example.jp; Tue, 08 Dec 2026 09:00:00 +0900\r\n"
            "From: =?%s?B?%s?= <sender%d@example.jp>\r\nTo: corvidan@example.jp\r\n"
            "Subject: =?%s?B?%s?=\r\nDate: Tue, 08 Dec 2026 09:%02d:%02d +0900\r\n"
            "Message-ID: <bench%d.%d@example.jp>\r\nMIME-Version: 1.0\r\n") % (
        i, charset, base64.b64encode(enc(sender)).decode(), i,
        charset, base64.b64encode(enc(subject)).decode(), (i // 60) % 60, i % 60, i, rng.getrandbits(32))
    text = "Content-Type: text/plain; charset=%s\r\nContent-Transfer-Encoding: %s\r\n\r\n%s" % (charset, cte, body)
    if i % 8:
        return (head + text).encode()
    size = rng.randint(50 * 1024, 500 * 1024)
    data = crlf_base64(rng.randbytes(size))
    name = urllib.parse.quote(("見積書_%d.pdf" % i).encode())
    parts = ('Content-Type: multipart/mixed; boundary="=_b%d"\r\n\r\n--=_b%d\r\n%s\r\n--=_b%d\r\n'
             'Content-Type: application/pdf\r\nContent-Disposition: attachment; filename*=UTF-8\'\'%s\r\n'
             'Content-Transfer-Encoding: base64\r\n\r\n%s--=_b%d--\r\n') % (i, i, text, i, name, data, i)
    return (head + parts).encode()


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261208)
    for i in range(1, count + 1):
        with open(os.path.join(folder, "%06d" % i), "wb") as f:
            f.write(message(i, rng))


main()
