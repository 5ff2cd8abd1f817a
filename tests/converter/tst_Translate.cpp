// The converter program's reading of the legacy command line and its translation table.
#include "modEncoders.h"
#include "modLegacyCommand.h"
#include "modProgress.h"
#include "modTranslate.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <limits>

using modEncoders::EncoderSet;
using Args = std::vector<std::string>;

namespace {

// The encoders of Debian's ffmpeg that matter here; `extra` adds optional ones.
EncoderSet DebianEncoders(const Args& extra = {}) {
    std::string listing = "Encoders:\n V..... = Video\n ------\n";
    for (const char* line : {" V....D libx264  libx264 H.264 / AVC / MPEG-4 AVC (codec h264)",
                             " V..... libxvid  libxvidcore MPEG-4 part 2 (codec mpeg4)",
                             " V.S... mpeg4    MPEG-4 part 2",
                             " V.S... mpeg1video MPEG-1 video",
                             " V.S... mpeg2video MPEG-2 video",
                             " V..... h263  H.263 / H.263-1996",
                             " V..... rv10 RealVideo 1.0",
                             " V..... rv20 RealVideo 2.0",
                             " V..... wmv1 WMV 7",
                             " V..... wmv2 WMV 8",
                             " V..... msvideo1 Microsoft Video-1",
                             " V..... pam PAM image",
                             " VF.... huffyuv Huffyuv / HuffYUV",
                             " VF.... ljpeg Lossless JPEG",
                             " V..... h261 H.261",
                             " V....D libtheora Theora (codec theora)",
                             " A..... aac AAC (Advanced Audio Coding)",
                             " A....D ac3 ATSC A/52A (AC-3)",
                             " A..... mp2 MP2 (MPEG audio layer 2)",
                             " A....D libmp3lame libmp3lame MP3 (MPEG audio layer 3) (codec mp3)",
                             " A....D pcm_s16le PCM signed 16-bit little-endian",
                             " A..... wmav2 WMA 2"})
        listing += std::string(line) + "\n";
    EncoderSet set = EncoderSet::FromListing(listing);
    for (const std::string& name : extra)
        set.Add(name, 'A', name);
    return set;
}

modLegacyCommand::LegacyRequest Request(const Args& args) {
    const auto parsed = modLegacyCommand::Parse(args);
    if (!parsed.ok)
        qFatal("unexpected parse failure: %s", parsed.error.c_str());
    return parsed.request;
}

// The translated options as one line, for readable comparisons.
QString Translated(const Args& args, const EncoderSet& encoders = DebianEncoders()) {
    QStringList parts;
    for (const std::string& arg : modTranslate::Translate(Request(args), encoders))
        parts << QString::fromStdString(arg);
    return parts.join(' ');
}

Args Line(const std::string& options, const std::string& dest) {
    Args args = {"-i", "/in/clip.flv"};
    size_t start = 0;
    while (start < options.size()) {
        size_t end = options.find(' ', start);
        if (end == std::string::npos)
            end = options.size();
        if (end > start)
            args.push_back(options.substr(start, end - start));
        start = end + 1;
    }
    args.push_back(dest);
    return args;
}

} // namespace

class TestTranslate : public QObject {
    Q_OBJECT

private slots:
    // ffmpeg's "-progress" lines of a one-minute source, and the converter's report of each.
    void progressLines_data() {
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<QString>("report"); // empty: the line says nothing of how far
        QTest::newRow("microseconds") << "out_time_us=1500000"
                                      << "avformat.dll: progress 1.5/60.0";
        QTest::newRow("start") << "out_time_us=0"
                               << "avformat.dll: progress 0.0/60.0";
        QTest::newRow("past the end") << "out_time_us=75000000"
                                      << "avformat.dll: progress 60.0/60.0";
        QTest::newRow("not known yet") << "out_time_us=N/A"
                                       << "";
        QTest::newRow("before the start") << "out_time_us=-23000"
                                          << "";
        QTest::newRow("no digits") << "out_time_us="
                                   << "";
        QTest::newRow("another key") << "out_time_ms=1500000"
                                     << "";
        QTest::newRow("key inside a line") << "x out_time_us=1500000"
                                           << "";
        QTest::newRow("clock time") << "out_time=00:00:01.500000"
                                    << "";
    }
    void progressLines() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, report);
        const double done = modProgress::OutTimeSeconds(ffmpeg.toStdString());
        QCOMPARE(done < 0 ? QString() : QString::fromStdString(modProgress::ReportLine(done, 60)),
                 report);
    }

    void parseReadsPathsByPosition() {
        const auto parsed = modLegacyCommand::Parse(
            {"-i", "-y.flv", "-y", "-b", "768", "-deinterlace", "-sameq", "-acodec", "mp3", "-f"});
        QVERIFY(parsed.ok);
        QCOMPARE(parsed.request.source, std::string("-y.flv"));
        QCOMPARE(parsed.request.dest, std::string("-f")); // the last argument is always the output
        QVERIFY(parsed.request.overwrite && parsed.request.deinterlace &&
                parsed.request.sameQuality);
        QCOMPARE(parsed.request.options.size(), size_t(2));
        QCOMPARE(parsed.request.options[0].second, std::string("768"));
    }

    void parseRefusesWhatTheComponentNeverWrites() {
        QVERIFY(!modLegacyCommand::Parse({"-i", "a.flv"}).ok);
        QVERIFY(!modLegacyCommand::Parse({"-b", "1", "out.avi"}).ok); // no input
        const auto unknown = modLegacyCommand::Parse({"-i", "a.flv", "-vf", "x", "out.avi"});
        QVERIFY(!unknown.ok);
        QVERIFY(unknown.error.find("-vf") != std::string::npos);
        // A value split at its space leaves a stray token, as it would have for the old build.
        QVERIFY(!modLegacyCommand::Parse({"-i", "a.flv", "-s", "320", "x", "240", "out.avi"}).ok);
        QVERIFY(!modLegacyCommand::Parse({"-i", "a.flv", "-b", "out.avi"}).ok);
    }

    // Numbers beyond any sensible value are refused by name, never computed with.
    void outOfRangeNumbersAreRefused() {
        for (const Args& options : {Args{"-ar", "2147483648"}, Args{"-ab", "-2147483648k"},
                                    Args{"-s", "99999999999x240"}, Args{"-b", "-5"}}) {
            Args args = {"-i", "a.flv"};
            args.insert(args.end(), options.begin(), options.end());
            args.push_back("out.mpg");
            const auto parsed = modLegacyCommand::Parse(args);
            QVERIFY(!parsed.ok);
            QVERIFY2(parsed.error.find("out of range") != std::string::npos, parsed.error.c_str());
        }
        QVERIFY(modLegacyCommand::Parse({"-i", "a.flv", "-ar", "100000000", "out.mpg"}).ok);
        // The rules hold their numbers within range even when handed extreme ones directly.
        modLegacyCommand::LegacyRequest request;
        request.dest = "/o/a.mpg";
        request.options = {{"-acodec", "mp2"}, {"-ab", "-2147483648k"}, {"-ar", "2147483648"}};
        QVERIFY(!modTranslate::Translate(request, DebianEncoders()).empty());
        QCOMPARE(modTranslate::NearestSampleRate("aac", std::numeric_limits<int>::min()), 7350);
        QCOMPARE(modTranslate::NearestMp2Bitrate(44100, std::numeric_limits<int>::min()), 32);
    }

    void encoderListingIsRead() {
        const EncoderSet set = DebianEncoders();
        QVERIFY(set.Has("libxvid") && set.Has("aac") && !set.Has("xvid"));
        QCOMPARE(set.CodecOf("libxvid"), std::string("mpeg4"));
        QCOMPARE(set.CodecOf("mpeg4"), std::string("mpeg4"));
        QVERIFY(!set.Has("------"));
        QVERIFY(EncoderSet::FromListing("garbage\n").Empty());
    }

    // Every row says why, and a row that names a codec's new name does exactly that: alone on a
    // plan that asks for the old name, it picks the first of its names that ffmpeg offers.
    void tableRowsSayWhy() {
        QVERIFY(modTranslate::TranslationTable().size() > 20);
        QSet<QString> seen;
        const QRegularExpression rename(
            "^(-[va]codec) (\\w+)(?: and (\\w+))? -> (\\w+)(?:, else (\\w+))?$");
        int renames = 0;
        for (const modTranslate::Rule& rule : modTranslate::TranslationTable()) {
            QVERIFY(std::string(rule.what).size() > 5);
            QVERIFY2(std::string(rule.why).size() > 15, rule.what);
            QVERIFY(rule.apply);
            QVERIFY2(!seen.contains(rule.what), rule.what); // one row per rewrite
            seen.insert(rule.what);
            const QRegularExpressionMatch m = rename.match(QString::fromUtf8(rule.what));
            if (!m.hasMatch())
                continue;
            ++renames;
            const std::string option = m.captured(1).toStdString();
            for (const QString& legacy : {m.captured(2), m.captured(3)}) {
                if (legacy.isEmpty())
                    continue;
                for (const QString& offered : {m.captured(4), m.captured(5)}) {
                    if (offered.isEmpty())
                        continue;
                    EncoderSet encoders;
                    encoders.Add(offered.toStdString(), option[1] == 'v' ? 'V' : 'A',
                                 offered.toStdString());
                    modTranslate::Plan plan;
                    plan.encoders = &encoders;
                    plan.options = {{option, legacy.toStdString()}};
                    rule.apply(plan);
                    QVERIFY2(plan.Get(option) == offered.toStdString(), rule.what);
                }
            }
        }
        QVERIFY(renames >= 10);
    }

    void bitRatesAreKilobits() {
        QCOMPARE(Translated(Line("-b 768 -bt 60 -bufsize 128 -maxrate 1500 -acodec mp3 -ab 64",
                                 "/o/a.avi")),
                 QString("-b:v 768k -bt 60k -bufsize 128k -maxrate 1500k -c:a libmp3lame "
                         "-b:a 64k -c:v mpeg4 -f avi"));
        // Values that already carry a unit are left as they are.
        QVERIFY(Translated(Line("-b 1.5M -vcodec mpeg4 -acodec aac", "/o/a.avi"))
                    .startsWith("-b:v 1.5M "));
    }

    void autoIsLeftOut() {
        const QString line =
            Translated(Line("-b Auto -r Auto -vcodec Auto -acodec ac3 -ar 48000", "/o/a.rm"));
        QVERIFY2(!line.contains("Auto") && !line.contains("-b:v") && !line.contains("-r "),
                 qPrintable(line));
        QVERIFY(line.contains("-c:v rv10")); // stated for the container, which has just two
    }

    void ntscRatesAreExact() {
        QVERIFY(Translated(Line("-r 29.97", "/o/a.avi")).startsWith("-r 30000/1001"));
        QVERIFY(Translated(Line("-r 14.985", "/o/a.avi")).startsWith("-r 15000/1001"));
        QVERIFY(Translated(Line("-r 11", "/o/a.avi")).startsWith("-r 11"));
    }

    void oldCodecNames_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("dest");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xvid") << "-vcodec xvid -acodec mp3"
                              << "a.avi"
                              << "-c:v libxvid -c:a libmp3lame";
        QTest::newRow("h264") << "-vcodec h264 -acodec aac"
                              << "a.avi"
                              << "-c:v libx264 -c:a aac";
        QTest::newRow("vc9") << "-vcodec vc9 -acodec mp3"
                             << "a.avi"
                             << "-c:v wmv2";
        QTest::newRow("vp3") << "-vcodec vp3 -acodec mp3"
                             << "a.avi"
                             << "-c:v libtheora";
        QTest::newRow("rpza crashes") << "-vcodec rpza -acodec mp3"
                                      << "a.avi"
                                      << "-c:v msvideo1";
        QTest::newRow("decode-only 4xm") << "-vcodec 4xm -acodec mp3"
                                         << "a.avi"
                                         << "-c:v mpeg4";
        QTest::newRow("decode-only in wmv") << "-vcodec indeo3 -acodec mp3"
                                            << "a.wmv"
                                            << "-c:v wmv2";
        QTest::newRow("pam has no AVI tag") << "-vcodec pam -acodec mp3"
                                            << "a.avi"
                                            << "-c:v mpeg4";
        QTest::newRow("rv20 has no AVI tag") << "-vcodec rv20 -acodec mp3"
                                             << "a.avi"
                                             << "-c:v mpeg4";
        QTest::newRow("mpeg4 in RealMedia") << "-vcodec mpeg4"
                                            << "a.rm"
                                            << "-c:v rv10";
        QTest::newRow("amr_nb without opencore") << "-vcodec h263 -acodec amr_nb"
                                                 << "a.3gp"
                                                 << "-c:a aac";
        QTest::newRow("no codecs in 3gp") << "-s 176x144"
                                          << "a.3gp"
                                          << "-c:v h263 -c:a aac";
    }
    void oldCodecNames() {
        QFETCH(QString, options);
        QFETCH(QString, dest);
        QFETCH(QString, expected);
        const QString line = Translated(Line(options.toStdString(), "/o/" + dest.toStdString()));
        for (const QString& pair : expected.split(" -")) {
            const QString wanted = pair.startsWith('-') ? pair : "-" + pair;
            QVERIFY2(line.contains(wanted), qPrintable(line + " lacks " + wanted));
        }
    }

    void fallbacksWhenOptionalEncodersAreMissing() {
        EncoderSet bare;
        bare.Add("mpeg4", 'V', "mpeg4");
        bare.Add("aac", 'A', "aac");
        const QString line = Translated(Line("-vcodec xvid -acodec amr_nb", "/o/a.3gp"), bare);
        QVERIFY2(line.contains("-c:v mpeg4") && line.contains("-c:a aac"), qPrintable(line));
        QVERIFY(Translated(Line("-vcodec h264", "/o/a.avi"), bare).contains("-c:v mpeg4"));
        const QString amr = Translated(Line("-acodec amr_nb -ar 22050", "/o/a.3gp"),
                                       DebianEncoders({"libopencore_amrnb"}));
        QVERIFY2(amr.contains("-c:a libopencore_amrnb -ar 8000"), qPrintable(amr));
    }

    void xvidInAviIsTagged() {
        QVERIFY(Translated(Line("-vcodec xvid", "/o/a.avi")).contains("-tag:v XVID"));
        QVERIFY(!Translated(Line("-vcodec xvid", "/o/a.3gp")).contains("XVID"));
        QVERIFY(Translated(Line("-vcodec xvid -vtag DX50", "/o/a.avi")).contains("-tag:v DX50"));
    }

    void frameSizesTheCodecCannotTake() {
        QVERIFY(Translated(Line("-s 320x240 -vcodec h263", "/o/a.3gp")).contains("-c:v mpeg4"));
        QVERIFY(Translated(Line("-s 176x144 -vcodec h263", "/o/a.3gp")).contains("-c:v h263"));
        QVERIFY(Translated(Line("-s 320x240", "/o/a.3gp")).contains("-c:v mpeg4")); // default h263
        QVERIFY(Translated(Line("-s 352x288 -vcodec h261", "/o/a.avi")).contains("-c:v h261"));
        QVERIFY(Translated(Line("-s 128x96 -vcodec h261", "/o/a.avi")).contains("-c:v mpeg4"));
        QVERIFY(Translated(Line("-s 160x120 -vcodec rv10", "/o/a.rm")).contains("-c:v rv20"));
        QVERIFY(Translated(Line("-s 160x112 -vcodec rv10", "/o/a.rm")).contains("-c:v rv10"));
        // A codec the container refuses becomes rv10, which then meets the size rule.
        QVERIFY(Translated(Line("-s 160x120 -vcodec mpeg4", "/o/a.rm")).contains("-c:v rv20"));
        QVERIFY(Translated(Line("-s 320x240 -vcodec dvvideo", "/o/a.avi")).contains("-c:v mpeg4"));
        QVERIFY(Translated(Line("-vcodec ljpeg", "/o/a.avi")).contains("-pix_fmt yuvj420p"));
    }

    void aacInMpgIsWrittenAsMp4() {
        const QString line = Translated(Line("-vcodec mpeg4 -acodec aac", "/o/clip.mpg"));
        QVERIFY2(line.endsWith("-f mp4"), qPrintable(line));
        QVERIFY(
            Translated(Line("-vcodec mpeg1video -acodec mp2", "/o/clip.mpg")).endsWith("-f mpeg"));
        // Without a video codec the MP4 default is stated too.
        QVERIFY(Translated(Line("-acodec aac", "/o/clip.MPG")).contains("-c:v libx264"));
    }

    void sampleRatesTheEncoderCannotTake() {
        QCOMPARE(modTranslate::NearestSampleRate("ac3", 22050), 32000);
        QCOMPARE(modTranslate::NearestSampleRate("ac3", 3200), 32000);
        QCOMPARE(modTranslate::NearestSampleRate("aac", 3200), 7350);
        QCOMPARE(modTranslate::NearestSampleRate("libmp3lame", 3200), 8000);
        QCOMPARE(modTranslate::NearestSampleRate("mp2", 8000), 16000);
        QCOMPARE(modTranslate::NearestSampleRate("aac", 24000), 24000);
        QCOMPARE(modTranslate::NearestSampleRate("pcm_s16le", 3200), 3200); // takes any
        QVERIFY(Translated(Line("-acodec ac3 -ar 22050", "/o/a.rm")).contains("-ar 32000"));
        // No codec given: the container's own (AC-3 for RealMedia) decides.
        QVERIFY(Translated(Line("-ar 22050", "/o/a.rm")).contains("-ar 32000 -c:v rv10 -c:a ac3"));
    }

    void mp2BitRateFollowsTheSampleRate() {
        QCOMPARE(modTranslate::NearestMp2Bitrate(44100, 40), 48);
        QCOMPARE(modTranslate::NearestMp2Bitrate(22050, 320), 160);
        QCOMPARE(modTranslate::NearestMp2Bitrate(22050, 40), 40);
        QCOMPARE(modTranslate::NearestMp2Bitrate(48000, 320), 320);
        QVERIFY(
            Translated(Line("-acodec mp2 -ab 256 -ar 22050", "/o/a.mpg")).contains("-b:a 160k"));
        QVERIFY(Translated(Line("-acodec mp2 -ab 40", "/o/a.mpg")).contains("-b:a 48k"));
    }

    void sameQualityMeansAFineQuantiser() {
        QVERIFY(
            Translated(Line("-b 120 -vcodec mpeg1video -sameq", "/o/a.mpg")).contains("-q:v 2"));
        const QString x264 = Translated(Line("-b 360 -bt 60 -sameq -acodec aac", "/o/a.mov"));
        QVERIFY2(x264.contains("-c:v libx264") && x264.contains("-crf 18"), qPrintable(x264));
        QVERIFY(!x264.contains("-b:v") && !x264.contains("-bt"));
        QVERIFY(!Translated(Line("-vcodec huffyuv -sameq", "/o/a.avi")).contains("-q:v"));
        QVERIFY(!Translated(Line("-vcodec mpeg4", "/o/a.avi")).contains("-q:v"));
    }

    void quantiserScale() {
        QVERIFY(Translated(Line("-vcodec mpeg4 -qscale 5", "/o/a.avi")).contains("-q:v 5"));
        const QString psp = Translated(
            Line("-y -b 400 -r 29.97 -s 368x208 -vcodec h264 -bufsize 128 -g 250 -qscale 25 "
                 "-maxrate 1500 -acodec aac -ab 128 -ar 48000 -ac 2",
                 "/o/psp.avi"));
        // For the PSP, x264's quality holds under the peak: the rate factor, not a fixed
        // quantiser, and the peak is the lower of 1.5 times the shown rate and the given one.
        QCOMPARE(psp, QString("-r 30000/1001 -s 368x208 -c:v libx264 -bufsize 128k -g 250 "
                              "-maxrate 600k -c:a aac -b:a 128k -ar 48000 -ac 2 -profile:v main "
                              "-level:v 3.0 -pix_fmt yuv420p -crf 25 -f avi"));
    }

    void deinterlaceUsesYadif() {
        QVERIFY(Translated(Line("-vcodec mpeg4 -deinterlace", "/o/a.avi"))
                    .contains("-vf yadif=deint=interlaced"));
        QVERIFY(!Translated(Line("-vcodec mpeg4", "/o/a.avi")).contains("-vf"));
    }

    void forcedFormatAndTarget() {
        QVERIFY(
            Translated(Line("-f psp -vcodec mpeg4 -acodec aac", "/o/a.avi")).endsWith("-f psp"));
        const QString target = Translated(Line("-target pal-vcd", "/o/a.mpg"));
        QCOMPARE(target, QString("-target pal-vcd")); // ffmpeg picks format and codecs
        QVERIFY(modTranslate::ContainerForFile("/a.b/clip").empty());
        QCOMPARE(modTranslate::ContainerForFile("/x/clip.WMV"), std::string("asf"));
    }
};

QTEST_GUILESS_MAIN(TestTranslate)
#include "tst_Translate.moc"
