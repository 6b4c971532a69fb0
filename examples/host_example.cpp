// A host's view of the library: open a container through the factory, store a serialized
// object and a typed vector in one unit of work, commit, then read both back read-only.
#include <QMXDataAccess/DataSourceDescriptor.h>
#include <QMXDataAccess/QMXBlobDAO.h>
#include <QMXDataAccess/QMXGenericDAOFactory.h>
#include <QMXDataAccess/QMXVectorDAO.h>
#include <QMXDataAccess/SerializationTransferObject.h>
#include <QMXDataAccess/TransactionStack.h>
#include <QMXDataAccess/UserContext.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

using namespace Quellmar;

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "example.qmz";
    try {
        {
            // Unit of work 1: write. The stack's locks commit and close the file when it ends.
            auto stack = TransactionStack::create();
            UserContext context(stack, UserContext::ReadWrite);
            QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(path), &context);

            QMXBlobDAO blobs;
            blobs.setDataSource(factory.getStorage());
            blobs.setContext(stack);
            blobs.createGroup("results", 1);
            const std::string text = "serialized model state";
            SerializationTransferObject object(
                std::make_shared<std::vector<unsigned char>>(text.begin(), text.end()));
            if (blobs.exists("results", "run-1"))
                blobs.update("results", "run-1", object);
            else
                blobs.create("results", "run-1", object);
            blobs.updateGroupDataId("results", "example");

            QMXVectorDAO vectors;
            vectors.setDataSource(factory.getStorage());
            vectors.setContext(stack);
            std::vector<double> temperature{20.5, 21.0, 21.75, 22.5};
            if (vectors.exists("series", "temperature"))
                vectors.remove("series", "temperature");
            vectors.create("series", "temperature", VT_DOUBLE, static_cast<int>(temperature.size()),
                           temperature.data());
            stack->commit();
        }
        {
            // Unit of work 2: read-only.
            auto stack = TransactionStack::create();
            UserContext context(stack, UserContext::ReadOnly);
            QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(path), &context);

            QMXBlobDAO blobs;
            blobs.setDataSource(factory.getStorage());
            blobs.setContext(stack);
            SerializationTransferObject object;
            blobs.read("results", "run-1", object);
            std::string id;
            blobs.readGroupDataId("results", id);

            QMXVectorDAO vectors;
            vectors.setDataSource(factory.getStorage());
            vectors.setContext(stack);
            const VectorInfo info = vectors.getInfo("series", "temperature");
            std::vector<float> values(static_cast<size_t>(info.rows));
            vectors.read("series", "temperature", VT_FLOAT, values.data());

            std::printf("results/run-1: \"%s\" (group id \"%s\")\n",
                        std::string(object.getBuffer()->begin(), object.getBuffer()->end()).c_str(),
                        id.c_str());
            std::printf("series/temperature: %d values, read as float:", info.rows);
            for (float v : values)
                std::printf(" %.2f", static_cast<double>(v));
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
