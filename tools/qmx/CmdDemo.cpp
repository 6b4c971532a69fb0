// qmx demo: writes a realistic sample container through the library's DAOs.
#include "Commands.h"
#include "Container.h"
#include "QMXArrayDAO.h"
#include "QMXBlobVariants.h"
#include "QMXClassComposer.h"
#include "QMXDesignDAO.h"
#include "QMXVectorDAO.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>

namespace Quellmar::qmx {
namespace {

// A simulation sample: padding after id and at the end, as real records have.
struct Sample {
    std::int32_t id;
    double position[3];
    float weight;
    std::uint8_t flag;
};

struct Cell {
    std::int16_t material;
    double volume;
};

// Deterministic bytes standing in for a serialized model (same file on every run).
SerializationTransferObject pseudoObject(std::size_t size, std::uint32_t seed) {
    auto bytes = std::make_shared<SerializationTransferObject::Buffer>(size);
    for (auto& b : *bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    return SerializationTransferObject(bytes);
}

SerializationTransferObject textObject(const std::string& text) {
    return SerializationTransferObject(
        std::make_shared<SerializationTransferObject::Buffer>(text.begin(), text.end()));
}

void writeObjects(const Container& c) {
    QMXOpaqueDataDAO opaque;
    QMXStringDataDAO strings;
    c.bind(opaque);
    c.bind(strings);

    opaque.createGroup("models", 3);
    opaque.create("models", "gearbox", pseudoObject(2048, 2041));
    opaque.create("models", "housing", pseudoObject(640, 77));
    strings.create("models", "notes",
                   textObject("Gearbox assembly, revision C.\nHousing cast in EN-GJL-250.\n"));
    opaque.updateGroupDataId("models", "MDL-2041");
    opaque.updateChainGangValue("models", "5f2c8e1a");
    opaque.updateMaxIdentifierValue("models", 4096, 2);
    opaque.updateFileCreationSoftwareRevision("models", "2.4.1");
    opaque.updateFileLastModifiedSoftwareRevision("models", "2.4.3");

    strings.createGroup("materials", 1);
    strings.create("materials", "steel", textObject(R"({"name":"S355","density":7850})"));
    strings.create("materials", "aluminium", textObject(R"({"name":"AlMg3","density":2660})"));
    strings.updateGroupDataId("materials", "MAT-0007");

    QMXDesignDatasetDAO layout("Layout");
    c.bind(layout);
    layout.createGroup(1);
    SerializationTransferObject design = pseudoObject(512, 7);
    layout.create(design);
    layout.updateGroupDataId("DSN-0001");
    layout.updateFileCreationSoftwareRevision("2.4.1");
}

void writeVectors(const Container& c) {
    QMXVectorDAO vectors;
    c.bind(vectors);
    double temperatures[24];
    float pressures[24];
    for (int i = 0; i < 24; ++i) {
        temperatures[i] = 20.0 + 0.25 * i;
        pressures[i] = 1.0f + 0.125f * static_cast<float>(i % 8);
    }
    const std::int32_t counts[6] = {12, 7, 0, 3, 41, 5};
    const std::uint8_t flags[8] = {1, 0, 1, 1, 0, 0, 1, 0};
    const std::uint64_t ids[4] = {1000001, 1000002, 1000017, 18446744073709551615ull};
    vectors.create("results", "temperatures", VT_DOUBLE, 24, temperatures);
    vectors.create("results", "pressures", VT_FLOAT, 24, pressures);
    vectors.create("results", "counts", VT_INT32, 6, counts);
    vectors.create("results", "flags", VT_UINT8, 8, flags);
    vectors.create("results", "ids", VT_UINT64, 4, ids);

    QMXClassComposer sample(sizeof(Sample));
    sample& triad{"id", offsetof(Sample, id), ClassMemberTypes::MT_INT32} &
        quartet{"position", offsetof(Sample, position), ClassMemberTypes::MT_DOUBLE, 3} &
        triad{"weight", offsetof(Sample, weight), ClassMemberTypes::MT_FLOAT} &
        triad{"flag", offsetof(Sample, flag), ClassMemberTypes::MT_UINT8};
    const Sample samples[4] = {{1, {0.0, 0.0, 0.0}, 1.5f, 1},
                               {2, {1.0, 0.0, 0.5}, 2.25f, 0},
                               {3, {1.0, 1.0, 0.5}, 0.75f, 1},
                               {4, {0.0, 1.0, 1.0}, 3.0f, 0}};
    vectors.create("results", "samples", sample, 4, samples);

    QMXArrayDAO arrays;
    c.bind(arrays);
    const double nodes[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0.5}};
    const std::int32_t connectivity[2][3] = {{0, 1, 2}, {0, 2, 3}};
    arrays.create("results/mesh", "nodes", VT_DOUBLE, 4, 3, nodes);
    arrays.create("results/mesh", "connectivity", VT_INT32, 2, 3, connectivity);

    QMXClassComposer cell(sizeof(Cell));
    cell& triad{"material", offsetof(Cell, material), ClassMemberTypes::MT_INT16} &
        triad{"volume", offsetof(Cell, volume), ClassMemberTypes::MT_DOUBLE};
    const Cell cells[2][2] = {{{1, 0.5}, {1, 0.25}}, {{2, 0.125}, {3, 1.0}}};
    arrays.create("results/mesh", "cells", cell, 2, 2, cells);
}

int runDemo(const Args& args) {
    const std::string& file = args.positional(0);
    {
        Container container(file, args.has("--force") ? Access::Replace : Access::Create, false);
        try {
            writeObjects(container);
            writeVectors(container);
            container.flush();
        } catch (...) {
            container.revert();
            std::remove(file.c_str());
            throw;
        }
    }
    std::cout << "wrote " << file
              << ": object groups models, materials and /Design with 6 objects; "
                 "vectors, arrays and compound records under /results\n";
    return kExitOk;
}

}  // namespace

Command demoCommand() {
    return {
        "demo",
        "FILE",
        "Write a sample container to look at with the other commands.",
        "Creates FILE with two object groups carrying bookkeeping attributes, opaque and string\n"
        "objects, a design object in \"/Design\", typed vectors, arrays, a compound vector and\n"
        "a compound array. An existing FILE is kept unless --force is given.",
        {{"-f", "--force", "", "replace FILE when it exists"}, verboseOption()},
        1,
        1,
        runDemo};
}

}  // namespace Quellmar::qmx
