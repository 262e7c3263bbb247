// Which navigation targets the browser takes for manifests and fetches itself.
#include "browser/manifest_link.h"

#include <QUrl>
#include <gtest/gtest.h>

namespace {

struct LinkCase {
    const char* target;
    bool manifest;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.target; }

class ManifestLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(ManifestLink, IsTakenOnlyWhenThePathEndsInPwq) {
    const LinkCase c = GetParam();
    EXPECT_EQ(IsManifestLink(QUrl(c.target)), c.manifest) << c.target;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ManifestLink,
    ::testing::Values(LinkCase{"http://h.example/files/movie.pwq", true}, LinkCase{"http://h.example/movie.PWQ", true},
                      LinkCase{"http://h.example:8080/a/b/Movie.Pwq", true}, LinkCase{"http://h.example/a.avi.pwq", true},
                      LinkCase{"http://h.example/.pwq", true}, LinkCase{"file:///home/u/movie.pwq", true},
                      // Percent-encoded, the path still names a .pwq file.
                      LinkCase{"http://h.example/my%20movie%2Epwq", true},
                      LinkCase{"http://h.example/movie.pwq?x=1", false}, LinkCase{"http://h.example/movie.pwq?", false},
                      LinkCase{"http://h.example/movie.pwq#top", false},
                      LinkCase{"http://h.example/get.php?file=movie.pwq", false},
                      LinkCase{"http://h.example/page.html#part.pwq", false},
                      LinkCase{"http://h.example/movie.pwq/", false}, LinkCase{"http://h.example/movie.pwqx", false},
                      LinkCase{"http://h.example/moviepwq", false}, LinkCase{"http://h.example/d.pwq/index.html", false},
                      LinkCase{"http://pwq.example/", false}, LinkCase{"http://h.example.pwq", false},
                      LinkCase{"", false}));

}  // namespace
