#include "AtomicFile.h"
#include "Errors.h"
#include "TestFiles.h"

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
