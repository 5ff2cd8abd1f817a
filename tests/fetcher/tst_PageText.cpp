#include "PageText.h"
#include "modNabrix.h"

#include <QLocale>
#include <QStringEncoder>
#include <QtTest>
#include <cerrno>
#include <limits>

using namespace PageText;

class tst_PageText : public QObject {
    Q_OBJECT
private slots:
    void extractBetween_data();
    void extractBetween();
    void cleanTitle_data();
    void cleanTitle();
    void titleIsCutBeforeCleaning();
    void fileNameTakesTwentyCharacters();
    void onlyAFlvDirectlyInTheFolderIsATarget();
    void detailsKeepPreviousValuesWhenMarkersFail();
    void detailsFromAnOldLayoutPage();
    void descriptionWithLinkIsEmptied();
    void addressRules();
    void hostNameFromTheEighthCharacter();
    void thumbnailPreviewEscapesTheId();
    void pageDecodedByDeclaredCharset_data();
    void pageDecodedByDeclaredCharset();
    void formatByteSize_data();
    void formatByteSize();
    void formatByteSizeUsesLocaleDecimalPoint();
    void failuresInPlainWords();
};

void tst_PageText::extractBetween_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");

    QTest::newRow("between markers") << "ab<t>Title</t>cd"
                                     << "<t>" << 3 << "</t>" << true << "Title";
    QTest::newRow("first start marker counts") << "<t>One</t><t>Two</t>"
                                               << "<t>" << 3 << "</t>" << true << "One";
    QTest::newRow("empty between adjacent markers") << "<t></t>"
                                                    << "<t>" << 3 << "</t>" << true << "";
    // Without the start marker its position counts as 0: the value starts at the offset.
    QTest::newRow("missing start marker") << "0123456789</a>"
                                          << "<x>" << 4 << "</a>" << true << "3456789";
    QTest::newRow("missing end marker fails") << "<t>Title"
                                              << "<t>" << 3 << "</t>" << false << "";
    QTest::newRow("end marker only before start fails") << "</t><t>Title"
                                                        << "<t>" << 3 << "</t>" << false << "";
    QTest::newRow("start beyond the page fails") << "<t>"
                                                 << "<t>" << 3 << "</t>" << false << "";
    QTest::newRow("search is case-sensitive") << "<T>x</T><t>y</t>"
                                              << "<t>" << 3 << "</t>" << true << "y";
    QTest::newRow("offset taken as given") << "id=&video_id=ABC&"
                                           << "&video_id=" << 4 << "&" << true << "eo_id=ABC";
    QTest::newRow("end marker right at s") << "<a>&x"
                                           << "<a>" << 3 << "&" << true << "";
}

void tst_PageText::extractBetween() {
    QFETCH(QString, page);
    QFETCH(QString, start);
    QFETCH(int, offset);
    QFETCH(QString, end);
    QFETCH(bool, found);
    QFETCH(QString, value);
    const auto result = ExtractBetween(page, start, offset, end);
    QCOMPARE(result.has_value(), found);
    if (found)
        QCOMPARE(*result, value);
}

void tst_PageText::cleanTitle_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("prefix") << "YouTube - My video"
                            << "My video";
    QTest::newRow("prefix anywhere") << "A YouTube - B YouTube - C"
                                     << "A B C";
    QTest::newRow("entity between blanks") << "Tom &amp; Jerry"
                                           << "Tom  Jerry";
    QTest::newRow("quote entity") << "&quot;Hi&quot;"
                                  << "Hi";
    QTest::newRow("colon apostrophe slash") << "It's 1/2: done"
                                            << "Its 12 done";
    QTest::newRow("all punctuation") << "a?;!@#$%^&*()=\\|][}{;':\",<>/`~b"
                                     << "ab";
    QTest::newRow("blanks stay") << "  spaced  out  "
                                 << "  spaced  out  ";
    QTest::newRow("case-sensitive prefix") << "youtube - x"
                                           << "youtube - x";
    QTest::newRow("entity without its semicolon first") << "&amp"
                                                        << "amp";
    QTest::newRow("letters and dots stay") << "v1.0 - final_cut"
                                           << "v1.0 - final_cut";
    QTest::newRow("nothing left") << "YouTube - ???"
                                  << "";
    QTest::newRow("NUL and other controls") << QString::fromUtf8("a\0b\x01"
                                                                 "c\x1b[0m\x7f\u0085d\te\n",
                                                                 16)
                                            << "abc0mde";
    QTest::newRow("a control hides no removal")
        << QString::fromLatin1("You\0Tube - &am\x02p;x", 18) << "x";
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("halves of characters")
        << QString("a") + QChar(0xD83D) + "b" + QChar(0xDE00) + emoji << "ab" + emoji;
    // A right-to-left override would show "Holiday\u202Egpj.exe" as "Holidayexe.jpg".
    QTest::newRow("format characters and separators")
        << QString::fromUtf8("Holi\u200Bday\u202Egpj.exe\u2066x\u2028y\u2029z\uFEFF") +
               QChar(0xDB40) + QChar(0xDC01)
        << "Holidaygpj.exexyz";
}

void tst_PageText::cleanTitle() {
    QFETCH(QString, title);
    QFETCH(QString, cleaned);
    QCOMPARE(CleanTitle(title), cleaned);
}

void tst_PageText::titleIsCutBeforeCleaning() {
    VideoPage fields;
    // 50 characters reach exactly to the end of "b::::"; the "c" after it is cut away.
    const QString title = QString(45, QLatin1Char('a')) + QStringLiteral("b::::c");
    ReadTitle(QStringLiteral("<title>") + title + QStringLiteral("</title>"), fields);
    QCOMPARE(fields.VideoTitle, QString(45, QLatin1Char('a')) + QStringLiteral("b"));

    ReadTitle(QStringLiteral("<title>YouTube - &amp;</title>"), fields);
    QCOMPARE(fields.VideoTitle, QString());
    // A page without a title end keeps the last title.
    fields.VideoTitle = QStringLiteral("Kept");
    ReadTitle(QStringLiteral("<title>Broken"), fields);
    QCOMPARE(fields.VideoTitle, QStringLiteral("Kept"));
}

void tst_PageText::fileNameTakesTwentyCharacters() {
    const QString id = QStringLiteral("abc-DEF_123");
    QCOMPARE(TargetFilePath(QStringLiteral("/home/u/Vantelo"),
                            QStringLiteral("Cats  Dogs the movie and more"), id),
             QStringLiteral("/home/u/Vantelo/Cats  Dogs the movie.flv"));
    QCOMPARE(TargetFilePath(QStringLiteral("/out/"), QStringLiteral("Short"), id),
             QStringLiteral("/out/Short.flv"));
    // No hidden files: leading dots and spaces go; a title of nothing takes the video's id.
    QCOMPARE(TargetFilePath("/out", " .. .bashrc", id), QStringLiteral("/out/bashrc.flv"));
    QCOMPARE(TargetFilePath("/out", "\u200B.bashrc", id), QStringLiteral("/out/bashrc.flv"));
    QCOMPARE(TargetFilePath("/out", QString(30, '.') + "tail", id),
             QStringLiteral("/out/tail.flv"));
    QCOMPARE(TargetFilePath("/out", "..", id), QStringLiteral("/out/abc-DEF_123.flv"));
    QCOMPARE(TargetFilePath("/out", QString(), "../x/\u202E"), QStringLiteral("/out/x.flv"));
    QCOMPARE(TargetFilePath("/out", QString(), "/.."), QStringLiteral("/out/video.flv"));
    // A character outside the basic plane at the cut is left out whole.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    QCOMPARE(TargetFilePath(QStringLiteral("/out"), QString(19, 'a') + emoji + "b", id),
             "/out/" + QString(19, 'a') + ".flv");
    QCOMPARE(TargetFilePath(QStringLiteral("/out"), QString(18, 'a') + emoji + "b", id),
             "/out/" + QString(18, 'a') + emoji + ".flv");
    VideoPage fields;
    ReadTitle("<title>" + QString(49, 'a') + emoji + "</title>", fields);
    QCOMPARE(fields.VideoTitle, QString(49, 'a'));
}

void tst_PageText::onlyAFlvDirectlyInTheFolderIsATarget() {
    QVERIFY(IsTargetFilePath("/out", "/out/Clip.flv"));
    QVERIFY(!IsTargetFilePath("/out/", "/out/.flv"));
    QVERIFY(!IsTargetFilePath("/out/", "/out/.bashrc.flv"));
    QVERIFY(!IsTargetFilePath("/out/", QString::fromUtf8("/out/a\u202Eb.flv")));
    QVERIFY(!IsTargetFilePath("/out", QString::fromLatin1("/out/notes.txt\0.flv", 19)));
    QVERIFY(!IsTargetFilePath(QString::fromLatin1("/home/u/.bashrc\0", 16),
                              QString::fromLatin1("/home/u/.bashrc\0/a.flv", 22)));
    QVERIFY(!IsTargetFilePath("/out", "/out/sub/a.flv"));
    QVERIFY(!IsTargetFilePath("/out", "/out/../a.flv"));
    QVERIFY(!IsTargetFilePath("/out", "/other/a.flv"));
    QVERIFY(!IsTargetFilePath("/out", "/out/a.flv.txt"));
    QVERIFY(!IsTargetFilePath("/out", "/out/a\x1b.flv"));
    // Pages of today name their container; the same rules hold, and an extension is plain.
    QCOMPARE(TargetFilePath("/out", " .. Clip", "id", "webm"), QStringLiteral("/out/Clip.webm"));
    QVERIFY(IsTargetFilePath("/out", "/out/Clip.mp4", "mp4"));
    QVERIFY(!IsTargetFilePath("/out", "/out/Clip.mp4"));
    QVERIFY(!IsTargetFilePath("/out", "/out/Clip.flv", "mp4"));
    QVERIFY(!IsTargetFilePath("/out", "/out/.mp4", "mp4"));
    for (const char* hostile : {"", "MP4", "mp4/", "a.b", "toolong", "../x", "mp4\n"}) {
        QCOMPARE(TargetFilePath("/out", "Clip", "id", hostile), QString());
        QVERIFY(!IsTargetFilePath("/out", QStringLiteral("/out/Clip.") + hostile, hostile));
    }
}

void tst_PageText::detailsKeepPreviousValuesWhenMarkersFail() {
    VideoPage fields;
    ReadDetails(QStringLiteral("watch-view-count\">100</span>&video_id=A&t=B&"), fields);
    QCOMPARE(fields.ViewCount, QStringLiteral("100"));
    QCOMPARE(fields.PageVideoId, QStringLiteral("A"));
    QCOMPARE(fields.PageToken, QStringLiteral("B"));

    // No "</span>" after the view count marker: the previous video's count stays.
    ReadDetails(QStringLiteral("watch-view-count\">200 &video_id=C&t=D&"), fields);
    QCOMPARE(fields.ViewCount, QStringLiteral("100"));
    QCOMPARE(fields.PageVideoId, QStringLiteral("C"));
    QCOMPARE(fields.PageToken, QStringLiteral("D"));
}

void tst_PageText::detailsFromAnOldLayoutPage() {
    // Without the category marker, the category runs from position 56 to the next "</a>".
    const QString filler = QString(55, QLatin1Char('.'));
    VideoPage fields;
    ReadDetails(filler + QStringLiteral("Music</a> watchUsername = 'bob'; "
                                        "Added: <span class=\"watch-stat\">May 1, 2008</span>"
                                        "<p class=\"description\">Live set</span>"),
                fields);
    QCOMPARE(fields.VideoCat, QStringLiteral("Music"));
    QCOMPARE(fields.UserID, QStringLiteral("bob"));
    QCOMPARE(fields.UploadDate, QStringLiteral("May 1, 2008"));
    QCOMPARE(fields.VideoDesc, QStringLiteral("Live set"));
    // Entities and tags are delivered as they stand.
    ReadDetails(QStringLiteral("urchinTracker('/Events/VideoWatch/VideoCategoryLink');\">"
                               "Film &amp; <b>Animation</b></a>"),
                fields);
    QCOMPARE(fields.VideoCat, QStringLiteral("Film &amp; <b>Animation</b>"));
}

void tst_PageText::descriptionWithLinkIsEmptied() {
    QCOMPARE(DescriptionWithoutLinks(QStringLiteral("see <a HREF=\"x\">x</a>")), QString());
    QCOMPARE(DescriptionWithoutLinks(QStringLiteral("see <a Href=x>")), QString());
    QCOMPARE(DescriptionWithoutLinks(QStringLiteral("my href=x")), QString());
    QCOMPARE(DescriptionWithoutLinks(QStringLiteral("no link,href=x")),
             QStringLiteral("no link,href=x"));
}

void tst_PageText::addressRules() {
    QCOMPARE(RepairDoubledScheme(QStringLiteral("http://http://www.youtube.com/watch?v=a")),
             QStringLiteral("http://www.youtube.com/watch?v=a"));
    // One pass from the left: a tripled scheme keeps one doubling.
    QCOMPARE(RepairDoubledScheme(QStringLiteral("http://http://http://x")),
             QStringLiteral("http://http://x"));
    QCOMPARE(RepairDoubledScheme(QStringLiteral("HTTP://http://x")),
             QStringLiteral("HTTP://http://x"));

    QVERIFY(IsVideoPageAddress(QStringLiteral("http://www.youtube.com/watch?v=a")));
    QVERIFY(IsVideoPageAddress(QStringLiteral("www.youtube.com/watch?v=a")));
    QVERIFY(!IsVideoPageAddress(QStringLiteral("http://www.youtube.com/user/watch?v=a")));
    QVERIFY(!IsVideoPageAddress(QStringLiteral("http://www.YouTube.com/watch?v=a")));
    QVERIFY(!IsVideoPageAddress(QStringLiteral("http://www.youtube.com/Watch?v=a")));

    QCOMPARE(AddressVideoId(QStringLiteral("http://www.youtube.com/watch?v=abc&feature=rec")),
             QStringLiteral("abc"));
    QCOMPARE(AddressVideoId(QStringLiteral("http://www.youtube.com/watch?v=abc")),
             QStringLiteral("abc"));
    QCOMPARE(AddressVideoId(QStringLiteral("http://www.youtube.com/watch?v=a/watch?v=b")),
             QStringLiteral("a"));
    QCOMPARE(
        DownloadUrl(QStringLiteral("www.youtube.com"), QStringLiteral("V"), QStringLiteral("T")),
        QStringLiteral("http://www.youtube.com/get_video.php?video_id=V&t=T"));
}

void tst_PageText::hostNameFromTheEighthCharacter() {
    QCOMPARE(HostName(QStringLiteral("http://www.youtube.com/watch?v=a")),
             std::optional<QString>(QStringLiteral("www.youtube.com")));
    // Without a scheme the first seven characters are skipped all the same.
    QCOMPARE(HostName(QStringLiteral("www.youtube.com/watch?v=a")),
             std::optional<QString>(QStringLiteral("tube.com")));
    QCOMPARE(HostName(QStringLiteral("youtube.com/watch?v=a")),
             std::optional<QString>(QStringLiteral(".com")));
    QCOMPARE(HostName(QStringLiteral("http://nohost")), std::optional<QString>());
}

void tst_PageText::thumbnailPreviewEscapesTheId() {
    QCOMPARE(ThumbnailPreview(QStringLiteral("abc")),
             QStringLiteral("about:<html><body scroll='no' topmargin=0 leftmargin=0><img "
                            "src='http://img.youtube.com/vi/abc/default.jpg' width=180 "
                            "height=147></img></body></html>"));
    const QString hostile = ThumbnailPreview(QStringLiteral("x'><script>alert(1)</script>\""));
    QVERIFY(!hostile.contains(QStringLiteral("<script>")));
    QVERIFY(hostile.contains(QStringLiteral("/vi/x&#39;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"
                                            "&quot;/default.jpg")));
    QCOMPARE(BlankPreview(), QStringLiteral("about:<html><body scroll='no'></body></html>"));
}

void tst_PageText::pageDecodedByDeclaredCharset_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");
    const QString cafe = QStringLiteral("Caf\u00e9 \u20ac");
    QTest::newRow("header utf-8") << cafe.toUtf8() << QByteArray("text/html; charset=utf-8")
                                  << cafe;
    QTest::newRow("header windows-1252 quoted")
        << QByteArray("Caf\xe9 \x80") << QByteArray("text/html; Charset=\"windows-1252\"") << cafe;
    QTest::newRow("meta charset") << QByteArray(
                                         "<head><meta charset=\"windows-1252\"></head>Caf\xe9 \x80")
                                  << QByteArray("text/html")
                                  << QStringLiteral("<head><meta charset=\"windows-1252\">"
                                                    "</head>Caf\u00e9 \u20ac");
    QTest::newRow("meta http-equiv")
        << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=ISO-8859-1\">\xe9")
        << QByteArray()
        << QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=ISO-8859-1\">\u00e9");
    QTest::newRow("header wins over meta") << QByteArray("<meta charset=\"iso-8859-1\">\xc3\xa9")
                                           << QByteArray("text/html;charset=UTF-8")
                                           << QStringLiteral("<meta charset=\"iso-8859-1\">\u00e9");
    QTest::newRow("undeclared utf-8") << cafe.toUtf8() << QByteArray() << cafe;
    QTest::newRow("undeclared latin-1")
        << QByteArray("Caf\xe9") << QByteArray() << QStringLiteral("Caf\u00e9");
    QTest::newRow("unknown charset")
        << QByteArray("Caf\xe9") << QByteArray("text/html; charset=x-nonsense")
        << QStringLiteral("Caf\u00e9");
    // UTF-16: told by a byte order mark, by the header, or by its bytes (its <meta> is inside).
    const QString page = QStringLiteral("<meta charset=\"utf-16\"><title>") + cafe;
    const auto utf16 = [&page](QStringConverter::Encoding form, bool marked) {
        QStringEncoder encoder(form, marked ? QStringConverter::Flag::WriteBom
                                            : QStringConverter::Flag::Default);
        return QByteArray(encoder(page));
    };
    QTest::newRow("UTF-16LE with a mark, undeclared")
        << utf16(QStringConverter::Utf16LE, true) << QByteArray() << page;
    QTest::newRow("UTF-16BE with a mark, header says otherwise")
        << utf16(QStringConverter::Utf16BE, true) << QByteArray("text/html; charset=iso-8859-1")
        << page;
    QTest::newRow("UTF-16BE without a mark, header utf-16")
        << utf16(QStringConverter::Utf16BE, false) << QByteArray("text/html; charset=UTF-16")
        << page;
    QTest::newRow("UTF-16LE without a mark, declared in its meta")
        << utf16(QStringConverter::Utf16LE, false) << QByteArray("text/html") << page;
    QTest::newRow("meta says utf-16 of bytes that are not")
        << page.toUtf8() << QByteArray() << page;
}

void tst_PageText::pageDecodedByDeclaredCharset() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QCOMPARE(DecodePage(body, contentType), text);
}

void tst_PageText::formatByteSize_data() {
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << Q_INT64_C(0) << "0 bytes";
    QTest::newRow("1") << Q_INT64_C(1) << "1 bytes";
    QTest::newRow("1023") << Q_INT64_C(1023) << "1023 bytes";
    QTest::newRow("1024") << Q_INT64_C(1024) << "1.00 KB";
    QTest::newRow("1536") << Q_INT64_C(1536) << "1.50 KB";
    QTest::newRow("2047 cut, not rounded") << Q_INT64_C(2047) << "1.99 KB";
    QTest::newRow("10239") << Q_INT64_C(10239) << "9.99 KB";
    QTest::newRow("10240") << Q_INT64_C(10240) << "10.0 KB";
    QTest::newRow("102400") << Q_INT64_C(102400) << "100 KB";
    QTest::newRow("1000 KB is shown in MB") << Q_INT64_C(1024000) << "0.97 MB";
    QTest::newRow("1048576") << Q_INT64_C(1048576) << "1.00 MB";
    QTest::newRow("5 MB") << Q_INT64_C(5242880) << "5.00 MB";
    QTest::newRow("1.21 MB") << Q_INT64_C(1268777) << "1.21 MB";
    QTest::newRow("512 MB") << Q_INT64_C(536870912) << "512 MB";
    QTest::newRow("1 GB") << Q_INT64_C(1073741824) << "1.00 GB";
    QTest::newRow("largest 32-bit signed") << Q_INT64_C(2147483647) << "1.99 GB";
    QTest::newRow("past 4 GB") << Q_INT64_C(4831838208) << "4.50 GB";
    QTest::newRow("10 GB") << Q_INT64_C(10737418240) << "10.0 GB";
    QTest::newRow("1000 GB is shown in TB") << Q_INT64_C(1073741824000) << "0.97 TB";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "7.99 EB";
    QTest::newRow("negative is nothing") << Q_INT64_C(-1) << "0 bytes";
}

void tst_PageText::formatByteSize() {
    QFETCH(qint64, count);
    QFETCH(QString, text);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(modNabrix::FormatByteSize(count), text);
}

void tst_PageText::formatByteSizeUsesLocaleDecimalPoint() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(modNabrix::FormatByteSize(1536), QStringLiteral("1,50 KB"));
    QCOMPARE(modNabrix::FormatByteSize(1023), QStringLiteral("1023 bytes"));
    QLocale::setDefault(QLocale::c());
}

void tst_PageText::failuresInPlainWords() {
    QCOMPARE(modNabrix::FileErrorText(ENOSPC, "No space left on device"),
             "the disk is full. Make room on it and try again.");
}

QTEST_GUILESS_MAIN(tst_PageText)
#include "tst_PageText.moc"
