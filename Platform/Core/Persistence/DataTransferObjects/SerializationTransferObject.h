#ifndef QUELLMAR_SERIALIZATIONTRANSFEROBJECT_H
#define QUELLMAR_SERIALIZATIONTRANSFEROBJECT_H

#include <memory>
#include <vector>

namespace Quellmar {

/// Carries one serialized object: a shared byte buffer (possibly absent) and the chunk size the
/// object should be stored with. Copies share the buffer.
class SerializationTransferObject {
public:
    /// The bytes of one object.
    using Buffer = std::vector<unsigned char>;

    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    SerializationTransferObject() = default;
    ///@}
    /// Carries `buffer` (shared, not copied); `chunkSize` 0 lets the file library choose.
    explicit SerializationTransferObject(std::shared_ptr<Buffer> buffer, unsigned int chunkSize = 0)
        : m_buffer(std::move(buffer)), m_chunkSize(chunkSize) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    virtual ~SerializationTransferObject() = default;
    SerializationTransferObject(const SerializationTransferObject&) = default;
    SerializationTransferObject& operator=(const SerializationTransferObject&) = default;
    ///@}

    /// The buffer; null when the object carries none.
    std::shared_ptr<Buffer> getBuffer() const { return m_buffer; }
    /// Replaces the buffer.
    void setBuffer(std::shared_ptr<Buffer> buffer) { m_buffer = std::move(buffer); }
    /// The chunk size to store the object with; 0 for the file library's choice.
    unsigned int getChunkSize() const { return m_chunkSize; }
    /// Sets the chunk size.
    void setChunkSize(unsigned int chunkSize) { m_chunkSize = chunkSize; }

private:
    std::shared_ptr<Buffer> m_buffer;
    unsigned int m_chunkSize = 0;
};

}  // namespace Quellmar

#endif
