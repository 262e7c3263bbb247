// TFtpClient against a real vsftpd on loopback, active and passive: uploads of every
// edge size stored byte for byte, a download back, a listing, a refused password.
#include "ftp_client_harness.h"
#include "support/vsftpd_server.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr qint64 kStoreBlock = TCustomFtpClient::kUploadBlock;

class FtpVsftpdTest : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        roots = new QTemporaryDir;
        server = new VsftpdServer;
        server->addAccount("alice", "s3cret a", roots->filePath("alice"));
        server->addAccount("bob", "b0b", roots->filePath("bob"));
        started = server->start();
    }
    static void TearDownTestSuite() {
        delete server;
        delete roots;
    }
    void SetUp() override { ASSERT_TRUE(started) << server->errorText().toStdString(); }

    std::unique_ptr<FtpClientHarness> login(const QString& user, const QString& password) {
        auto h = std::make_unique<FtpClientHarness>(server->port());
        h->client.SetUserName(user);
        h->client.SetPassWord(password);
        h->client.SetPassive(GetParam());
        h->client.SetTimeout(30);
        return h;
    }
    static QByteArray stored(const QString& user, const QString& name) {
        QFile f(roots->filePath(user + '/' + name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }

    static inline QTemporaryDir* roots = nullptr;
    static inline VsftpdServer* server = nullptr;
    static inline bool started = false;
};

TEST_P(FtpVsftpdTest, UploadsEverySizeByteForByte) {
    const QString mode = GetParam() ? "passive" : "active";
    auto h = login("alice", "s3cret a");
    ASSERT_TRUE(h->client.Connect()) << h->client.ErrorMessage().toStdString();
    EXPECT_TRUE(h->client.SendTypeBinary());
    EXPECT_TRUE(h->client.SendType());
    const qint64 sizes[] = {0, 1, kStoreBlock, kStoreBlock + 1, 10 << 20, 100 << 20};
    for (qint64 size : sizes) {
        const QString name = QStringLiteral("%1-%2.bin").arg(mode).arg(size);
        const QString path = h->makeFile(name, size);
        h->client.SetLocalFileName(path);
        h->client.SetHostFileName(name);
        h->progress.clear();
        EXPECT_TRUE(h->client.Put()) << size << ": " << h->client.ErrorMessage().toStdString();
        EXPECT_EQ(h->client.StatusCode(), 226) << size;
        EXPECT_EQ(h->client.TransferCount(), size);
        EXPECT_EQ(h->progress.value(h->progress.size() - 1), size);
        EXPECT_TRUE(stored("alice", name) == h->fileBytes(path)) << name.toStdString();
        QFile::remove(path);
    }
    EXPECT_TRUE(h->client.Quit());
    EXPECT_FALSE(h->client.Connected());
    QList<QPair<int, int>> expected = {{rqConnect, 0}, {rqType, 0}, {rqType, 0}};
    for (int i = 0; i < int(std::size(sizes)); ++i)
        expected.append({rqPut, 0});
    expected.append({rqQuit, 0});
    EXPECT_EQ(h->done, expected);
    EXPECT_EQ(h->display.filter(GetParam() ? "> EPSV" : "> PORT 127,0,0,1,").size(), int(std::size(sizes)));
}

TEST_P(FtpVsftpdTest, DownloadsAndListsWhatIsThere) {
    const QString mode = GetParam() ? "passive" : "active";
    const QString name = "back-" + mode + ".bin";
    auto h = login("bob", "b0b");
    const QString original = h->makeFile("original.bin", 3 * kStoreBlock + 17);
    ASSERT_TRUE(QFile::copy(original, roots->filePath("bob/" + name)));
    ASSERT_TRUE(h->client.Connect());
    EXPECT_TRUE(h->client.SendTypeBinary());
    const QString copy = h->dir.filePath("copy.bin");
    h->client.SetLocalFileName(copy);
    h->client.SetHostFileName(name);
    EXPECT_TRUE(h->client.Get()) << h->client.ErrorMessage().toStdString();
    EXPECT_TRUE(h->fileBytes(copy) == h->fileBytes(original));
    EXPECT_EQ(h->client.TransferCount(), 3 * kStoreBlock + 17);
    EXPECT_TRUE(h->client.Size());
    EXPECT_EQ(h->client.ReplySize(), 3 * kStoreBlock + 17);
    EXPECT_TRUE(h->client.Pwd());
    EXPECT_EQ(h->client.ReplyPath(), roots->filePath("bob"));

    QStringList listing;
    h->client.OnDisplayFile = [&listing](TCustomFtpClient*, QString& line) { listing << line; };
    h->client.SetDisplayFileFlag(true);
    h->client.SetHostFileName(QString());
    EXPECT_TRUE(h->client.Dir()) << h->client.ErrorMessage().toStdString();
    EXPECT_EQ(listing.filter(name).size(), 1) << listing.join('\n').toStdString();
    EXPECT_EQ(h->client.LastResponse().left(4), "226 ");
    EXPECT_TRUE(h->client.Quit());
    EXPECT_EQ(h->done, (QList<QPair<int, int>>{
                           {rqConnect, 0}, {rqType, 0}, {rqGet, 0}, {rqSize, 0}, {rqPwd, 0}, {rqList, 0}, {rqQuit, 0}}));
}

TEST_P(FtpVsftpdTest, WrongPasswordIsRefusedAndTheStoreFails) {
    auto h = login("alice", "wrong");
    EXPECT_FALSE(h->client.Connect());
    EXPECT_EQ(h->client.StatusCode(), 530);
    EXPECT_EQ(h->client.ErrorMessage(), "530 Login incorrect.");
    EXPECT_TRUE(h->client.Connected());
    // As the upload run goes on: the store fails, QUIT ends the session.
    h->client.SetLocalFileName(h->makeFile("x.bin", 10));
    h->client.SetHostFileName("never.bin");
    EXPECT_FALSE(h->client.Put());
    EXPECT_EQ(h->client.StatusCode(), 530);
    EXPECT_TRUE(h->client.Quit());
    EXPECT_FALSE(h->client.Connected());
    EXPECT_FALSE(QFile::exists(roots->filePath("alice/never.bin")));
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpVsftpdTest, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Passive" : "Active"; });

}  // namespace
