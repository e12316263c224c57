#include "jobs/JobFile.h"

#include "support/TestEnv.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using vorlin::jobs::ReadJobFile;

QString writeJob(const QByteArray& text) {
    const QString path = vorlin::test::testHome() + "/job.ini";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

TEST(JobFile, FieldsAndItemsAreRead) {
    const auto job =
        ReadJobFile(writeJob("[job]\n"
                             "TrimStart=1000000\nTrimLength=2500000\n"
                             "CropTop=8\nCropBottom=8\nZoomMode=full\n"
                             "Brightness=300\nExposure=-20\n"
                             "[wm0]\nKind=0\nText=Hello\nFontName=DejaVu Sans\n"
                             "FontSize=20\nFontStyle=bi\nFontColor=#ff8000\n"
                             "TextLeft=10\nTextTop=20\nTextWidth=200\nTextHeight=40\n"
                             "HasBackColor=1\nBackColor=#000080\nStartSec=1\nEndSec=2\n"
                             "[wm1]\nKind=1\nImagePath=/tmp/logo.bmp\nImageAlpha=128\n"
                             "[wm3]\nText=not read: wm2 is missing\n"));
    ASSERT_TRUE(job);
    EXPECT_EQ(job->TrimStart, 1'000'000);
    EXPECT_EQ(job->TrimLength, 2'500'000);
    EXPECT_EQ(job->CropTop, 8);
    EXPECT_EQ(job->CropLeft, 0);
    EXPECT_EQ(job->ZoomMode, "full");
    EXPECT_EQ(job->Brightness, 300);
    EXPECT_EQ(job->Contrast, 0);
    EXPECT_EQ(job->Saturation, 255);
    EXPECT_EQ(job->Exposure, -20);
    ASSERT_EQ(job->WmItems.size(), 2u);
    const TWmRec& text = job->WmItems[0];
    EXPECT_EQ(text.Text, "Hello");
    EXPECT_EQ(text.Font.Size, 20);
    EXPECT_TRUE(text.Font.Bold);
    EXPECT_TRUE(text.Font.Italic);
    EXPECT_FALSE(text.Font.Underline);
    EXPECT_EQ(text.Font.Color, QColor(255, 128, 0));
    EXPECT_TRUE(text.HasBackColor);
    EXPECT_EQ(text.BackColor, QColor(0, 0, 128));
    EXPECT_EQ(text.StartSec, 1);
    EXPECT_EQ(text.EndSec, 2);
    EXPECT_EQ(job->WmItems[1].Kind, 1);
    EXPECT_EQ(job->WmItems[1].ImagePath, "/tmp/logo.bmp");
    EXPECT_EQ(job->WmItems[1].ImageAlpha, 128);
    EXPECT_TRUE(job->needsFrameHook());
}

TEST(JobFile, MalformedOrMissingFilesAreRefusedWithAReason) {
    const std::pair<QByteArray, QString> cases[] = {
        {"[job]\nCropTop=eight\n", "CropTop"},
        {"[wm0]\nFontColor=orange\n", "FontColor"},
        {"[wm0]\nFontStyle=bx\n", "FontStyle"},
    };
    for (const auto& [text, field] : cases) {
        QString error;
        EXPECT_FALSE(ReadJobFile(writeJob(text), &error)) << text.constData();
        EXPECT_TRUE(error.contains(field)) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(ReadJobFile(vorlin::test::testHome() + "/none.ini", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(ReadJobFile(vorlin::test::testHome(), &error)); // a folder
}

TEST(JobRecord, HookOnlyForChangedEffectsOrItemsWithContent) {
    TlvFilesRecord job;
    EXPECT_FALSE(job.needsFrameHook());
    job.Exposure = 1;
    EXPECT_TRUE(job.needsFrameHook());
    job.Exposure = 0;
    job.WmItems.resize(2); // a blank first item must not hide the second
    EXPECT_FALSE(job.needsFrameHook());
    job.WmItems[1].ImagePath = "/x.bmp";
    EXPECT_TRUE(job.needsFrameHook());
    job.WmItems[1].ImagePath.clear();
    job.WmItems[0].Text = "t";
    EXPECT_TRUE(job.needsFrameHook());
    job.WmItems.clear();
    job.Saturation = 256;
    EXPECT_TRUE(job.needsFrameHook());
}

} // namespace
