#include "tests/support/openmohaaclient.h"

#include "tests/support/openmohaapacket.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <array>
#include <vector>

namespace skelvar::test {

namespace {

constexpr int kProtocol = 8;  // Allied Assault 1.11 and later

// The engine's adaptive Huffman coder (code/qcommon/huffman.cpp), compressing
// side only. Both sides start from a tree holding just the NYT ("not yet
// transmitted") node and update it alike after each byte, so the server
// decodes only what was built by the very same steps: the nodes, their rank
// list and the shared "head of this weight's block" slots follow the engine
// one for one.
class AdaptiveHuffman {
public:
    AdaptiveHuffman()
    {
        Node* nyt = newNode();
        nyt->symbol = kNyt;
        m_tree = m_lhead = m_loc[kNyt] = nyt;
    }

    QByteArray compress(const QByteArray& data, bool* fits)
    {
        m_maxBits = int(data.size()) * 8;
        m_out = QByteArray(2, '\0');
        m_out[0] = char((data.size() >> 8) & 0xFF);
        m_out[1] = char(data.size() & 0xFF);
        m_bit = 16;
        for (const char c : data) {
            transmit(quint8(c));
            addRef(quint8(c));
        }
        m_bit += 8;  // the engine counts one byte past the last bit
        m_out.resize(m_bit >> 3, '\0');
        if (fits)
            *fits = !m_cut;
        return m_out;
    }

private:
    static constexpr int kNyt = 256;
    static constexpr int kInternalNode = 257;
    static constexpr int kMaxNodes = 768;

    struct Node {
        Node* left = nullptr;
        Node* right = nullptr;
        Node* parent = nullptr;
        Node* next = nullptr;  // towards higher weight in the rank list
        Node* prev = nullptr;
        Node** head = nullptr;  // slot naming the highest-ranked node of this weight
        int weight = 0;
        int symbol = 0;
    };

    Node* newNode() { return &m_nodes[m_nodesUsed++]; }

    Node** newHead()
    {
        if (!m_freeHeads.empty()) {
            Node** slot = m_freeHeads.back();
            m_freeHeads.pop_back();
            return slot;
        }
        return &m_heads[m_headsUsed++];
    }

    void freeHead(Node** slot) { m_freeHeads.push_back(slot); }

    void putBit(int bit)
    {
        if ((m_bit & 7) == 0)
            m_out.append('\0');
        m_out[m_bit >> 3] = char(quint8(m_out[m_bit >> 3]) | (bit << (m_bit & 7)));
        ++m_bit;
    }

    // The path from the root to the node; the engine stops writing a path
    // once the bits reach the input's own size.
    void sendPath(Node* node)
    {
        std::vector<int> bits;
        for (Node* child = node; child->parent; child = child->parent)
            bits.push_back(child->parent->right == child ? 1 : 0);
        for (auto it = bits.rbegin(); it != bits.rend(); ++it) {
            if (m_bit >= m_maxBits) {
                m_cut = true;
                return;
            }
            putBit(*it);
        }
    }

    void transmit(int symbol)
    {
        if (m_loc[symbol]) {
            sendPath(m_loc[symbol]);
            return;
        }
        sendPath(m_loc[kNyt]);
        for (int i = 7; i >= 0; --i)
            putBit((symbol >> i) & 1);
    }

    void swapInTree(Node* a, Node* b)
    {
        Node* parentA = a->parent;
        Node* parentB = b->parent;
        if (parentA)
            (parentA->left == a ? parentA->left : parentA->right) = b;
        else
            m_tree = b;
        if (parentB)
            (parentB->left == b ? parentB->left : parentB->right) = a;
        else
            m_tree = a;
        a->parent = parentB;
        b->parent = parentA;
    }

    static void swapInList(Node* a, Node* b)
    {
        std::swap(a->next, b->next);
        std::swap(a->prev, b->prev);
        if (a->next == a)
            a->next = b;
        if (b->next == b)
            b->next = a;
        if (a->next)
            a->next->prev = a;
        if (b->next)
            b->next->prev = b;
        if (a->prev)
            a->prev->next = a;
        if (b->prev)
            b->prev->next = b;
    }

    void increment(Node* node)
    {
        if (!node)
            return;
        if (node->next && node->next->weight == node->weight) {
            Node* leader = *node->head;
            if (leader != node->parent)
                swapInTree(leader, node);
            swapInList(leader, node);
        }
        if (node->prev && node->prev->weight == node->weight) {
            *node->head = node->prev;
        } else {
            *node->head = nullptr;
            freeHead(node->head);
        }
        ++node->weight;
        if (node->next && node->next->weight == node->weight) {
            node->head = node->next->head;
        } else {
            node->head = newHead();
            *node->head = node;
        }
        if (node->parent) {
            increment(node->parent);
            if (node->prev == node->parent) {
                swapInList(node, node->parent);
                if (*node->head == node)
                    *node->head = node->parent;
            }
        }
    }

    // Puts a node of weight 1 right after the NYT node in the rank list.
    void insertAfterNyt(Node* node)
    {
        node->weight = 1;
        node->next = m_lhead->next;
        if (m_lhead->next) {
            m_lhead->next->prev = node;
            if (m_lhead->next->weight == 1) {
                node->head = m_lhead->next->head;
            } else {
                node->head = newHead();
                *node->head = node;
            }
        } else {
            node->head = newHead();
            *node->head = node;
        }
        m_lhead->next = node;
        node->prev = m_lhead;
    }

    void addRef(int symbol)
    {
        if (m_loc[symbol]) {
            increment(m_loc[symbol]);
            return;
        }
        // A new symbol: the NYT node's place goes to a new inner node with the
        // NYT node on its left and the symbol's leaf on its right.
        Node* leaf = newNode();
        Node* inner = newNode();
        inner->symbol = kInternalNode;
        insertAfterNyt(inner);
        leaf->symbol = symbol;
        insertAfterNyt(leaf);
        if (m_lhead->parent)
            (m_lhead->parent->left == m_lhead ? m_lhead->parent->left : m_lhead->parent->right) = inner;
        else
            m_tree = inner;
        inner->right = leaf;
        inner->left = m_lhead;
        inner->parent = m_lhead->parent;
        m_lhead->parent = leaf->parent = inner;
        m_loc[symbol] = leaf;
        increment(inner->parent);
    }

    std::array<Node, kMaxNodes> m_nodes{};
    int m_nodesUsed = 0;
    std::array<Node*, kMaxNodes> m_heads{};
    int m_headsUsed = 0;
    std::vector<Node**> m_freeHeads;
    std::array<Node*, kNyt + 1> m_loc{};
    Node* m_tree = nullptr;
    Node* m_lhead = nullptr;  // the NYT node, lowest in the rank list

    QByteArray m_out;
    int m_bit = 0;
    int m_maxBits = 0;
    bool m_cut = false;
};

// The first word after a connectionless answer's keyword, "" when the answer
// is another one.
QByteArray wordAfter(const QByteArray& answer, const QByteArray& keyword)
{
    if (!answer.startsWith(keyword + ' '))
        return {};
    return answer.mid(keyword.size() + 1).split(' ').value(0).trimmed();
}

}  // namespace

OpenMohaaClient::OpenMohaaClient(const QString& sourceAddress, quint16 qport, const QByteArray& name)
    : m_sourceAddress(sourceAddress), m_qport(qport)
{
    m_userInfo = {{"name", name},
                  {"rate", "5000"},
                  {"snaps", "20"},
                  {"dm_playermodel", "american_army"},
                  {"dm_playergermanmodel", "german_wehrmacht_soldier"}};
}

OpenMohaaClient::~OpenMohaaClient() = default;

void OpenMohaaClient::setUserInfo(const QByteArray& key, const QByteArray& value)
{
    for (qsizetype i = 0; i < m_userInfo.size(); ++i) {
        if (m_userInfo[i].first != key)
            continue;
        if (value.isEmpty())
            m_userInfo.removeAt(i);
        else
            m_userInfo[i].second = value;
        return;
    }
    if (!value.isEmpty())
        m_userInfo.append({key, value});
}

QByteArray OpenMohaaClient::userInfo(const QByteArray& key) const
{
    for (const auto& [k, v] : m_userInfo)
        if (k == key)
            return v;
    return {};
}

QByteArray OpenMohaaClient::infoString(const QByteArray& challenge) const
{
    QByteArray info = "\\challenge\\" + challenge + "\\qport\\" + QByteArray::number(m_qport) + "\\protocol\\" +
                      QByteArray::number(kProtocol);
    for (const auto& [key, value] : m_userInfo)
        info += '\\' + key + '\\' + value;
    return info;
}

QByteArray OpenMohaaClient::compress(const QByteArray& data, bool* fits)
{
    // About 12 kB of nodes: on the heap, not the stack.
    return std::make_unique<AdaptiveHuffman>()->compress(data, fits);
}

bool OpenMohaaClient::checkUserInfo(QString* error) const
{
    for (const auto& [key, value] : m_userInfo) {
        for (const char c : key + value) {
            if (c != '"' && c != '\\' && c != '\0' && c != '\n')
                continue;
            if (error)
                *error = QStringLiteral("the user info %1 cannot carry the byte 0x%2")
                             .arg(QString::fromLatin1(key))
                             .arg(int(quint8(c)), 2, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

bool OpenMohaaClient::bind(QString* error)
{
    if (m_socket)
        return true;
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress(m_sourceAddress), 0)) {
        if (error)
            *error = QStringLiteral("cannot send from %1: %2").arg(m_sourceAddress, socket->errorString());
        return false;
    }
    m_socket = std::move(socket);
    return true;
}

bool OpenMohaaClient::connectTo(quint16 port, QString* error)
{
    if (!checkUserInfo(error) || !bind(error))
        return false;
    QByteArray lastAnswer;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        lastAnswer = openmohaa::answerText(openmohaa::exchange(*m_socket, port, openmohaa::request("getchallenge")));
        const QByteArray challenge = wordAfter(lastAnswer, "challengeResponse");
        if (challenge.isEmpty())
            continue;
        bool fits = true;
        const QByteArray packed = compress('"' + infoString(challenge) + '"', &fits);
        if (!fits) {
            if (error)
                *error = QStringLiteral("the info string is too short for the engine's compression");
            return false;
        }
        lastAnswer =
            openmohaa::answerText(openmohaa::exchange(*m_socket, port, openmohaa::request("connect ") + packed));
        if (!wordAfter(lastAnswer, "connectResponse").isEmpty())
            return true;
        if (!lastAnswer.isEmpty())
            break;  // refused: asking again gets the same answer
    }
    if (error)
        *error = lastAnswer.isEmpty()
                     ? QStringLiteral("no answer from 127.0.0.1:%1").arg(port)
                     : QStringLiteral("the server answered: ") + QString::fromLatin1(lastAnswer).trimmed();
    return false;
}

quint16 OpenMohaaClient::sourcePort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

QString OpenMohaaClient::address() const
{
    return m_sourceAddress + QLatin1Char(':') + QString::number(sourcePort());
}

int OpenMohaaClient::numberIn(const QByteArray& statusText) const
{
    // A name may hold blanks, so the row is found by its address column.
    const QByteArray column = ' ' + address().toLatin1() + ' ';
    for (const QByteArray& row : statusText.split('\n')) {
        if (!row.contains(column))
            continue;
        bool ok = false;
        const int number = row.trimmed().split(' ').value(0).toInt(&ok);
        if (ok)
            return number;
    }
    return -1;
}

}  // namespace skelvar::test
