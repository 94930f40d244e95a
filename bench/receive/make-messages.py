#!/usr/bin/env python3
"""Writes N realistic Japanese messages (RFC 5322, CRLF) into a folder, one file
each: ISO-2022-JP and UTF-8 subjects and bodies of 1-8 KB, every tenth message
with a base64 attachment of 20 KB. Deterministic, so every run sees the same mail."""
import base64
import os
import random
import sys

LINES = ["お世話になっております。", "来週の会議の資料を送ります。", "ご確認のほどよろしくお願いいたします。",
         "①議事録 ②見積書 ③請求書", "株式会社㈱テスト　営業部", "～以上です～", "何卒よろしくお願い申し上げます。"]


def message(i, rng):
    subject = "【定例】会議資料の送付 第%d号" % i
    # ISO-2022-JP has no ① or ㈱; those lines travel in the UTF-8 messages.
    pool = LINES if i % 2 else [l.replace("～", "〜") for l in LINES if "①" not in l and "㈱" not in l]
    lines = [rng.choice(pool) for _ in range(rng.randint(20, 150))]
    if i % 2:
        charset, subj = "UTF-8", base64.b64encode(subject.encode()).decode()
        body = base64.encodebytes("\r\n".join(lines).encode()).decode().replace("\n", "\r\n")
        cte = "base64"
    else:
        charset, subj = "ISO-2022-JP", base64.b64encode(subject.encode("iso2022_jp")).decode()
        body = "\r\n".join(l.encode("iso2022_jp").decode("ascii") for l in lines) + "\r\n"
        cte = "7bit"
    head = ("From: =?UTF-8?B?%s?= <sender%d@example.jp>\r\nTo: taro@example.jp\r\n"
            "Subject: =?%s?B?%s?=\r\nDate: Tue, 08 Dec 2026 09:%02d:%02d +0900\r\n"
            "Message-ID: <bench%d@example.jp>\r\nMIME-Version: 1.0\r\n") % (
        base64.b64encode(("差出人%d" % i).encode()).decode(),
        i, charset, subj, (i // 60) % 60, i % 60, i)
    text = "Content-Type: text/plain; charset=%s\r\nContent-Transfer-Encoding: %s\r\n\r\n%s" % (charset, cte, body)
    if i % 10:
        return (head + text).encode()
    data = base64.encodebytes(bytes(rng.getrandbits(8) for _ in range(20000))).decode().replace("\n", "\r\n")
    parts = ('Content-Type: multipart/mixed; boundary="b%d"\r\n\r\n--b%d\r\n%s\r\n--b%d\r\n'
             'Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename="data%d.bin"\r\n'
             'Content-Transfer-Encoding: base64\r\n\r\n%s--b%d--\r\n') % (i, i, text, i, i, data, i)
    return (head + parts).encode()


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261208)
    for i in range(1, count + 1):
        with open(os.path.join(folder, "%010d.M%dP1.bench" % (1700000000 + i, i)), "wb") as f:
            f.write(message(i, rng))


main()
