#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>

#include "bootstrap/loader_images.h"

namespace {

using namespace fernwick::bootstrap;

std::string sha256(const std::string& bytes)
{
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

TEST(loader_images, both_images_are_the_published_target_code)
{
    EXPECT_EQ(sha256(first_loader_bytes()), "172fbc952ca8edea4824c39e899f0d57aa04b947cb7a40e294c180e909a0a18b");
    EXPECT_EQ(sha256(main_program_bytes()), "a0cec083935a275474993a7644ad69f0052ed7677f34f2d18aff3e7742179d6e");
}

TEST(loader_images, the_loader_receives_exactly_the_main_program)
{
    EXPECT_EQ(first_loader_count(first_loader_bytes()), main_program_bytes().size());
}

}  // namespace
