// The split's parts and digests, and that any k of the k + m parts rebuild the data.
#include "coding/reed_solomon.h"
#include "coding/sha256.h"
#include "coding/split_encoder.h"
#include "coding_test_files.h"
#include "common/manifest_v2.h"
#include "crc/crc32.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

uint32_t crcOf(const Bytes& b) { return ~Crc32Update(~0u, b.data(), b.size()); }

// Encode, lose parts, decode, compare: for (k, m) from (1, 1) to (20, 4), every single
// loss, and every double loss where m >= 2. Stripes of 64 bytes and blocks of 48, so
// that parts of a few hundred bytes cross both; files of 0 and 1 byte and of sizes whose
// last part holds 0, 1, P - 1, P and P + 1 bytes of a 129-byte part.
TEST(RecoveryRoundTrip, AnyKPartsRebuildTheData) {
    const SplitEncoderTuning tuning{48, 64};
    for (int k = 1; k <= 20; ++k)
        for (int m = 1; m <= 4; ++m) {
            const std::int64_t p = 129;
            for (const std::int64_t size : {std::int64_t{0}, std::int64_t{1}, (k - 1) * p, (k - 1) * p + 1,
                                            k * p - 1, k * p, k * p + 1}) {
                const auto layout = MakeCodingLayout(size, k, m);
                if (!layout)
                    continue;
                const Bytes file = SeededFile(static_cast<std::size_t>(size), static_cast<unsigned>(k * 100 + m));
                MemorySplit split(file, *layout);
                const SplitDigests digests = SplitEncoder(*layout, split.source.get(), split.dataFds(),
                                                          split.recoveryFds(), tuning)
                                                 .run();
                SCOPED_TRACE(testing::Message() << "k " << k << " m " << m << " size " << size);

                std::vector<Bytes> parts;
                Bytes joined;
                for (int i = 0; i < k + m; ++i) {
                    parts.push_back(split.part(i));
                    const PartDigest& d = i < k ? digests.data[static_cast<std::size_t>(i)]
                                                : digests.recovery[static_cast<std::size_t>(i - k)];
                    ASSERT_EQ(static_cast<std::int64_t>(parts.back().size()),
                              i < k ? layout->dataPartSize(i) : layout->partSize);
                    EXPECT_EQ(d.size, static_cast<std::int64_t>(parts.back().size()));
                    EXPECT_EQ(d.crc, crcOf(parts.back())) << "part " << i;
                    EXPECT_EQ(d.sha256, Sha256::of(parts.back().data(), parts.back().size())) << "part " << i;
                    if (i < k)
                        joined.insert(joined.end(), parts.back().begin(), parts.back().end());
                }
                ASSERT_EQ(joined, file);
                EXPECT_EQ(digests.fileCrc, crcOf(file));
                EXPECT_EQ(digests.fileSha256, Sha256::of(file.data(), file.size()));

                const auto padded = static_cast<std::size_t>(layout->partSize);
                std::vector<std::vector<int>> losses;
                for (int a = 0; a < k + m; ++a) {
                    losses.push_back({a});
                    for (int b = a + 1; m >= 2 && b < k + m; ++b)
                        losses.push_back({a, b});
                }
                for (const auto& lost : losses) {
                    // The last k survivors: as many recovery parts as can be put to work.
                    std::vector<int> present;
                    for (int i = k + m - 1; i >= 0 && static_cast<int>(present.size()) < k; --i)
                        if (std::find(lost.begin(), lost.end(), i) == lost.end())
                            present.insert(present.begin(), i);
                    const RecoveryDecoder decoder(k, m, present);
                    std::vector<Bytes> in, out(decoder.missingData().size(), Bytes(padded, 0xEE));
                    std::vector<const unsigned char*> inPointers;
                    std::vector<unsigned char*> outPointers;
                    for (const int i : present) {
                        in.push_back(parts[static_cast<std::size_t>(i)]);
                        in.back().resize(padded, 0);
                        inPointers.push_back(in.back().data());
                    }
                    for (Bytes& o : out)
                        outPointers.push_back(o.data());
                    decoder.decode(padded, inPointers.data(), outPointers.data());
                    for (std::size_t j = 0; j < out.size(); ++j) {
                        Bytes expected = parts[static_cast<std::size_t>(decoder.missingData()[j])];
                        expected.resize(padded, 0);
                        ASSERT_EQ(out[j], expected) << "data part " << decoder.missingData()[j] << " lost with "
                                                    << testing::PrintToString(lost);
                    }
                }
            }
        }
}

// The worked example of docs/manifest-v2.md, from which another implementation checks
// its coder: the recovery stripes, a decode from parts 1, 4 and 5, and the manifest.
TEST(RecoveryRoundTrip, DocumentedExample) {
    const Bytes parts[5] = {{'P', 'a', 'r', 'c'}, {'e', 'l', 'w', 'i'}, {'c', 'k', 0, 0},
                            {0xef, 0x89, 0x9b, 0x9b}, {0x60, 0x2a, 0x89, 0xcc}};
    unsigned char recovery[2][4];
    const unsigned char* in[3] = {parts[0].data(), parts[1].data(), parts[2].data()};
    unsigned char* out[2] = {recovery[0], recovery[1]};
    RecoveryEncoder(3, 2).encode(4, in, out);
    EXPECT_EQ(Bytes(recovery[0], recovery[0] + 4), parts[3]);
    EXPECT_EQ(Bytes(recovery[1], recovery[1] + 4), parts[4]);
    const RecoveryDecoder decoder(3, 2, {0, 3, 4});
    const unsigned char* at[3] = {parts[0].data(), parts[3].data(), parts[4].data()};
    unsigned char rebuilt[2][4];
    unsigned char* rebuiltPointers[2] = {rebuilt[0], rebuilt[1]};
    decoder.decode(4, at, rebuiltPointers);
    EXPECT_EQ(Bytes(rebuilt[0], rebuilt[0] + 4), parts[1]);
    EXPECT_EQ(Bytes(rebuilt[1], rebuilt[1] + 4), parts[2]);

    QFile doc(PW_SOURCE_DIR "/docs/manifest-v2.md");
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(doc.readAll());
    const qsizetype start = text.indexOf("```\nwww.parcelwick.example") + 4;
    ManifestV2 manifest;
    ASSERT_EQ(ParseManifestV2(text.mid(start, text.indexOf("```", start) - start).split('\n'), manifest), "");
    for (int i = 0; i < 5; ++i) {
        const ManifestV2Part& entry = i < 3 ? manifest.data[i] : manifest.recovery[i - 3];
        const std::size_t size = static_cast<std::size_t>(entry.size);
        EXPECT_EQ(entry.crc, ~Crc32Update(~0u, parts[i].data(), size)) << "part " << i + 1;
        EXPECT_EQ(entry.sha256, Sha256::of(parts[i].data(), size)) << "part " << i + 1;
    }
}

TEST(Sha256, KnownDigestsInPiecesAndText) {
    const std::string abc = "abc";
    Sha256 hash;
    for (const char c : abc)
        hash.update(&c, 1);
    EXPECT_EQ(Sha256Text(hash.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // finish() starts the hash again from nothing.
    EXPECT_EQ(Sha256Text(hash.finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const Sha256Digest digest = Sha256::of(abc.data(), abc.size());
    EXPECT_EQ(Sha256FromText(Sha256Text(digest)), digest);
}

}  // namespace
