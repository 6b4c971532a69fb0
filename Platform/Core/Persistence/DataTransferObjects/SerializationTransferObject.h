#ifndef QUELLMAR_SERIALIZATIONTRANSFEROBJECT_H
#define QUELLMAR_SERIALIZATIONTRANSFEROBJECT_H

#include <memory>
#include <vector>

namespace Quellmar {

// Carries one serialized object: a shared byte buffer (possibly absent) and the chunk size the
// object should be stored with. Copies share the buffer.
class SerializationTransferObject {
public:
    using Buffer = std::vector<unsigned char>;

    SerializationTransferObject() = default;
    explicit SerializationTransferObject(std::shared_ptr<Buffer> buffer, unsigned int chunkSize = 0)
        : m_buffer(std::move(buffer)), m_chunkSize(chunkSize) {}
    virtual ~SerializationTransferObject() = default;
    SerializationTransferObject(const SerializationTransferObject&) = default;
    SerializationTransferObject& operator=(const SerializationTransferObject&) = default;

    std::shared_ptr<Buffer> getBuffer() const { return m_buffer; }
    void setBuffer(std::shared_ptr<Buffer> buffer) { m_buffer = std::move(buffer); }
    unsigned int getChunkSize() const { return m_chunkSize; }
    void setChunkSize(unsigned int chunkSize) { m_chunkSize = chunkSize; }

private:
    std::shared_ptr<Buffer> m_buffer;
    unsigned int m_chunkSize = 0;
};

}  // namespace Quellmar

#endif
