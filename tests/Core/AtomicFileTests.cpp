#include "AtomicFile.h"
#include "Errors.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(AtomicFile, TargetChangesOnlyOnCommit)
{
    TTempFolder folder;
    const QString target = folder.Write("DEVICE1.xml", "old content");
    {
        TAtomicFileWriter writer(target);
        writer.Open();
        writer.Write("new ");
        writer.Write("content");
        EXPECT_EQ(writer.BytesWritten(), 11);
        EXPECT_EQ(ReadFileBytes(target), "old content");
        // The temporary file is hidden and does not end in .xml, so listings of *.xml never see it.
        for (const QString& entry : folder.Entries())
            EXPECT_TRUE(entry == "DEVICE1.xml" || (entry.startsWith('.') && !entry.endsWith(".xml")))
                << entry.toStdString();
        writer.Commit();
    }
    EXPECT_EQ(ReadFileBytes(target), "new content");
    EXPECT_EQ(folder.Entries(), QStringList{"DEVICE1.xml"});
}

TEST(AtomicFile, AbandonedWriteLeavesTargetAndNoLitter)
{
    TTempFolder folder;
    const QString target = folder.Write("list.xml", "kept");
    {
        TAtomicFileWriter writer(target);
        writer.Open();
        writer.Write(QByteArray(100000, 'x'));
    } // destroyed without Commit, as after a failed download
    EXPECT_EQ(ReadFileBytes(target), "kept");
    EXPECT_EQ(folder.Entries(), QStringList{"list.xml"});
}

TEST(AtomicFile, FailuresAreErrors)
{
    TTempFolder folder;
    EXPECT_THROW(TAtomicFileWriter::WriteFile(folder.File("no/such/folder/file.xml"), "x"), EFileError);
    folder.Write("sub/inner.txt", "x");
    EXPECT_THROW(TAtomicFileWriter::WriteFile(folder.File("sub"), "x"), EFileError);
    TAtomicFileWriter notOpen(folder.File("a.xml"));
    EXPECT_THROW(notOpen.Write("x"), EFileError);
    EXPECT_THROW(notOpen.Commit(), EFileError);
    EXPECT_EQ(folder.Entries(), QStringList{"sub"});
}

TEST(AtomicFile, PermissionsAreSetBeforeTheFileAppears)
{
    TTempFolder folder;
    const QString target = folder.File("secret.xml");
    TAtomicFileWriter::WriteFile(target, "x", TAtomicFileWriter::OwnerOnlyPermissions);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    TAtomicFileWriter::WriteFile(target, "y");
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// A file system takes names of up to 255 bytes: a target name of that length must still be writable, so the
// temporary name cannot grow with it.
TEST(AtomicFile, TargetNamesUpToTheFileSystemLimitAreWritten)
{
    TTempFolder folder;
    const QStringList names{QString(1, 'a'), QString(243, 'b'), QString(244, 'c'), QString(255, 'd'),
                            QString(85, QChar(0x20AC))}; // 85 three-byte characters: 255 bytes
    for (const QString& name : names) {
        SCOPED_TRACE(name.size());
        ASSERT_NO_THROW(TAtomicFileWriter::WriteFile(folder.File(name), name.toUtf8()));
        EXPECT_EQ(ReadFileBytes(folder.File(name)), name.toUtf8());
    }
    EXPECT_EQ(folder.Entries().size(), names.size()); // no temporary file left
}

// What a killed run left behind goes at the next start, and only that: other hidden files, look-alikes and
// whatever a symbolic link leads to stay.
TEST(AtomicFile, LeftoverTemporaryFilesAreRemovedAndNothingElse)
{
    TTempFolder outside;
    const QString outsideFile = outside.Write("keep.txt", "outside");
    outside.Write(".vctmp.Out123", "outside leftover look-alike behind a folder link");
    TTempFolder folder;
    {
        // The writer's own temporary name is one that is recognised.
        TAtomicFileWriter writer(folder.File("Schedule.xml"));
        writer.Open();
        writer.Write("partial");
        const QStringList entries = folder.Entries();
        ASSERT_EQ(entries.size(), 1);
        ASSERT_TRUE(IsLeftoverTemporaryName(entries.first())) << entries.first().toStdString();
    }
    folder.Write("sub/deeper/.vctmp.a1B2c3", "leftover");
    folder.Write(".vctmp.zZ9yY8", "leftover");
    for (const char* kept :
         {".vctmp.abc12", ".vctmp.abc1234", "x.vctmp.abc123", ".vctmp.abc123.xml", ".hidden", "Schedule.xml"})
        folder.Write(kept, "kept");
    ASSERT_TRUE(QFile::link(outsideFile, folder.File(".vctmp.Link01")));
    ASSERT_TRUE(QFile::link(outside.Path(), folder.File("linked")));

    EXPECT_EQ(RemoveLeftoverTemporaryFiles(folder.Path(), false), 2); // the copy below stays: not recursive
    EXPECT_EQ(RemoveLeftoverTemporaryFiles(folder.Path(), true), 1);

    QStringList left = folder.Entries();
    left.sort();
    EXPECT_EQ(left, QStringList({".hidden", ".vctmp.abc12", ".vctmp.abc123.xml", ".vctmp.abc1234",
                                 "Schedule.xml", "linked", "sub", "x.vctmp.abc123"}));
    EXPECT_TRUE(QDir(folder.File("sub/deeper")).isEmpty());
    EXPECT_EQ(ReadFileBytes(outsideFile), "outside");
    EXPECT_TRUE(QFile::exists(outside.File(".vctmp.Out123")));
}
