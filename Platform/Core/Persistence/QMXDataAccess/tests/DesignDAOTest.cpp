#include "BlobHost.h"
#include "DAOExceptions.h"
#include "QMXDesignDAO.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace Quellmar {
namespace {

using namespace testing;

TEST(DesignDAO, StoresItsObjectUnderDesignAndSurvivesReopen) {
    TempDir dir;
    const std::string file = dir.file("design.qmz");
    const Bytes first = pattern(3000, 5);
    const Bytes second = pattern(10, 6);
    {
        Session s(file);
        QMXDesignDatasetDAO a("/model");  // stored as "model"
        QMXDesignDatasetDAO b("layout");
        s.bind(a);
        s.bind(b);
        SingleObjectInterface<SerializationTransferObject>& single = a;
        EXPECT_FALSE(single.existsGroup());
        single.createGroup(2);
        EXPECT_TRUE(single.existsGroup());
        EXPECT_FALSE(single.exists());
        single.create(transfer(first));
        b.create(transfer(second));
        EXPECT_TRUE(single.exists());

        // Both objects share the attributes of "/Design".
        a.updateGroupDataId("design-id");
        a.updateMaxIdentifierValue(99, 1);
        b.updateFileCreationSoftwareRevision("rev-7");
        std::string id;
        b.readGroupDataId(id);
        EXPECT_EQ(id, "design-id");
        int version = 0;
        b.readGroupDataVersion(version);
        EXPECT_EQ(version, 2);
        s.stack->commit();
    }
    const auto members = listGroup(file, "/Design");
    EXPECT_EQ(members,
              (std::vector<Member>{{"layout", QMXL_KIND_OPAQUE}, {"model", QMXL_KIND_OPAQUE}}));

    Session s(file, UserContext::ReadOnly);
    QMXDesignDatasetDAO a("model");
    s.bind(a);
    SerializationTransferObject back;
    a.read(back);
    EXPECT_EQ(*back.getBuffer(), first);
    std::string revision;
    a.readFileCreationSoftwareRevision(revision);
    EXPECT_EQ(revision, "rev-7");
    unsigned long long value = 0;
    unsigned short high = 0;
    a.readMaxIdentifierValue(value, high);
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(high, 1u);
}

TEST(DesignDAO, CopiesUpdateRemoveAndTheBlobInterfaceBelowDesign) {
    TempDir dir;
    Session s(dir.file("design2.qmz"));
    QMXDesignDatasetDAO design("d");
    s.bind(design);
    design.createGroup(1);
    QMXDesignDatasetDAO copy(design);  // keeps the name and the bindings
    copy.create(transfer({1, 2}));
    EXPECT_TRUE(design.exists());
    SerializationTransferObject replacement = transfer({3});
    design.update(replacement);
    SerializationTransferObject back;
    design.read(back);
    EXPECT_EQ(*back.getBuffer(), (Bytes{3}));

    // Through the blob interface, group "." and the empty group name are "/Design" itself.
    BlobDAO& blob = design;
    EXPECT_TRUE(blob.exists(".", "d"));
    EXPECT_TRUE(blob.exists("", "d"));
    blob.createGroup("sub", 1);
    blob.create("sub", "x", transfer({4}));
    EXPECT_TRUE(design.existsGroup("sub"));

    design.remove();
    EXPECT_FALSE(design.exists());
    EXPECT_THROW(design.remove(), DataAccessViolationException);

    int viaSingle = -1;
    int viaBlob = -2;
    SingleObjectInterface<SerializationTransferObject>& single = design;
    EXPECT_EQ(single.getQMVersion(viaSingle), blob.getQMVersion(viaBlob));
    EXPECT_EQ(viaSingle, viaBlob);
}

}  // namespace
}  // namespace Quellmar
