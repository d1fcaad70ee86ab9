// MDF blocks: reading the ID block, single blocks and the whole block tree (with the VAX float
// conversions), creating blocks, block and link nodes, link resolution.
#include "mdfint.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The index of a file's tree (see mdfint.h): CG images in file order, CN images per CG.
struct mdf_tree_index {
    struct group {
        std::size_t dg; // its DG, as an index into dgs
        std::uint8_t *cg;
    };
    struct data_group {
        std::uint8_t *dg;
        std::uint8_t *first_cg; // the ends of its CG chain when indexed (null: none)
        std::uint8_t *last_cg;
        std::uint32_t cgs; // CGs along its chain
    };
    bool built = false;               // groups and dgs describe the chains from first_dg
    std::uint8_t *first_dg = nullptr; // the HD's first DG when they were made
    std::vector<group> groups;        // group number n at n - 1
    std::vector<data_group> dgs;      // in chain order
    std::unordered_map<const std::uint8_t *, std::size_t> dg_position; // DG -> index in dgs
    std::unordered_map<const std::uint8_t *, std::vector<std::uint8_t *>> channels; // CG -> its CNs

    void clear_groups() {
        built = false;
        first_dg = nullptr;
        groups.clear();
        dgs.clear();
        dg_position.clear();
    }
    void add_dg(std::uint8_t *dg) {
        dg_position[dg] = dgs.size();
        dgs.push_back({dg, nullptr, nullptr, 0});
    }
    // A CG of the DG added last.
    void add_group(std::uint8_t *cg) {
        data_group &d = dgs.back();
        groups.push_back({dgs.size() - 1, cg});
        if (d.cgs++ == 0) d.first_cg = cg;
        d.last_cg = cg;
    }
};

namespace {

// Owns a fresh image until it is registered.
struct image_holder {
    std::uint8_t *image;
    ~image_holder() { mdflib_free(image); }
    std::uint8_t *release() { return std::exchange(image, nullptr); }
};

// The link fields registered for a block type and the smallest size a read block of it may
// have. A link field registers only where the block holds it: a CN of the later versions has its
// long-name and display-name links, a CN of 218 bytes has neither.
struct link_layout {
    std::uint16_t type;
    std::uint16_t min_size; // 0: any size
    std::uint8_t count;
    std::uint16_t offsets[7];
};
constexpr link_layout link_layouts[] = {
    {MDFBLK_HD, HD_SIZE, 3, {HD_FIRST_DG, HD_COMMENT, HD_PROGRAM}},
    {MDFBLK_DG, DG_SIZE, 4, {DG_NEXT_DG, DG_FIRST_CG, DG_TRIGGER, DG_DATA}},
    {MDFBLK_CG, CG_SIZE, 3, {CG_NEXT_CG, CG_FIRST_CN, CG_COMMENT}},
    {MDFBLK_CN,
     CN_SIZE,
     7,
     {CN_NEXT_CN, CN_CONVERSION, CN_EXTENSION, CN_DEPENDENCY, CN_COMMENT, CN_LONG_NAME,
      CN_DISPLAY_NAME}},
    {MDFBLK_TR, 0, 1, {TR_COMMENT}},
};

// The two letters of a block type, for reports.
const char *type_name(std::uint16_t type, char *text) {
    text[0] = static_cast<char>(type & 0xFF);
    text[1] = static_cast<char>(type >> 8);
    text[2] = '\0';
    return text;
}

// Size of a new block of a type; a type without layout is an internal error.
std::uint16_t new_block_size(std::uint16_t type) {
    switch (type) {
    case MDFBLK_ID: return ID_SIZE;
    case MDFBLK_HD: return HD_SIZE;
    case MDFBLK_DG: return DG_SIZE;
    case MDFBLK_CG: return CG_SIZE;
    case MDFBLK_CN: return CN_SIZE;
    case MDFBLK_TR: return TR_SIZE;
    case MDFBLK_CC: return CC_SIZE;
    case MDFBLK_CE: return CE_SIZE;
    case MDFBLK_CD: return CD_SIZE;
    case MDFBLK_TX: return BLK_HEADER;
    case MDFBLK_PR: return BLK_HEADER;
    default: MDF_INTERNAL_ERROR();
    }
}

// Conversion types whose parameters are REAL values.
bool cc_has_reals(std::uint16_t type) {
    const mdf_cc_type *t = mdf_cc_type_of(type);
    return t != nullptr && t->reals;
}
// The number of REAL values in the parameter area of a CC with REAL parameters.
std::uint32_t cc_real_count(const std::uint8_t *cc) {
    std::uint16_t type = mdf_u16(cc, CC_TYPE);
    std::uint32_t count = mdf_u16(cc, CC_COUNT);
    if (type == CC_TABLE_INTERP || type == CC_TABLE) return 2 * count;
    return std::max<std::uint32_t>(count, mdf_cc_type_of(type)->fixed_reals);
}

// A read block must hold every field that the library reads from it: -2004 otherwise.
void check_fits(const std::uint8_t *image, std::uint32_t position) {
    std::uint32_t size = mdf_block_size(image);
    char what[64];
    for (const link_layout &layout : link_layouts) {
        if (layout.type == mdf_block_type(image) && size < layout.min_size) {
            std::snprintf(what, sizeof what, "size %u below %u", static_cast<unsigned>(size),
                          static_cast<unsigned>(layout.min_size));
            MDF_CORRUPT_IMAGE(image, position, what);
        }
    }
    switch (mdf_block_type(image)) {
    case MDFBLK_TR:
        if (size < TR_EVENTS ||
            TR_EVENTS + std::uint32_t{TR_EVENT_SIZE} * mdf_u16(image, TR_COUNT) > size)
            MDF_CORRUPT_IMAGE(image, position, "trigger events beyond the block");
        break;
    case MDFBLK_CC:
        if (size < CC_SIZE) {
            std::snprintf(what, sizeof what, "size %u below %u", static_cast<unsigned>(size),
                          static_cast<unsigned>(CC_SIZE));
            MDF_CORRUPT_IMAGE(image, position, what);
        }
        if (cc_has_reals(mdf_u16(image, CC_TYPE)) && CC_PARAMS + 8 * cc_real_count(image) > size)
            MDF_CORRUPT_IMAGE(image, position, "parameters beyond the block");
        break;
    case MDFBLK_CE:
        if (size < CE_MIN_SIZE) MDF_CORRUPT_IMAGE(image, position, "size below 6");
        break;
    default: break;
    }
}

// The memory that the block tree of one file may take. A tree whose blocks are each read once
// takes at most about 25 bytes per byte of the file: the smallest blocks carry the most
// bookkeeping (a 24-byte DG block has its image, a block node and four link nodes). A block
// linked from several places is read once per link, so a small file whose links all name one
// large block could otherwise demand gigabytes. The limit leaves room beyond a tree read once
// (the factor) and for a few shared large blocks in any file (the allowance: about a thousand
// reads of a largest block of 64 KB).
constexpr std::uint64_t tree_factor = 32;
constexpr std::uint64_t tree_allowance = std::uint64_t{64} << 20;
// Bookkeeping of one allocation: its guard word, the allocator's own and an index entry.
constexpr std::uint64_t allocation_overhead = 64;

// The memory that reading a block of this type and size takes: image, block node, link nodes.
std::uint64_t block_cost(std::uint16_t type, std::uint16_t size) {
    std::uint64_t links = 0;
    for (const link_layout &layout : link_layouts)
        if (layout.type == type) links = layout.count;
    return size + 1u + allocation_overhead + sizeof(mdf_block_node) + allocation_overhead +
           links * (sizeof(mdf_link_node) + allocation_overhead);
}

// The budget of the tree read in progress (null while none is): every block read is charged
// before its image is allocated.
struct tree_budget {
    std::uint64_t limit;
    std::uint64_t used;
};
tree_budget *active_budget = nullptr;

void charge(std::uint16_t type, std::uint16_t size) {
    if (active_budget == nullptr) return;
    active_budget->used += block_cost(type, size);
    if (active_budget->used > active_budget->limit)
        mdflib_fail(MDF_ERR_MEMORY, "(block tree too large for the file)");
}

// Holds a budget active for the duration of one tree read.
struct budget_scope {
    tree_budget budget;
    tree_budget *saved;
    explicit budget_scope(std::uint64_t limit) : budget{limit, 0}, saved(active_budget) {
        active_budget = &budget;
    }
    ~budget_scope() { active_budget = saved; }
    budget_scope(const budget_scope &) = delete;
    budget_scope &operator=(const budget_scope &) = delete;
};

// The float conversion applied while a tree is read.
using real_conversion = void (*)(std::uint8_t *);

void convert(real_conversion conv, std::uint8_t *image, std::size_t offset) {
    if (conv != nullptr) conv(image + offset);
}

void convert_cc(real_conversion conv, std::uint8_t *cc) {
    if (conv == nullptr) return;
    conv(cc + CC_MIN);
    conv(cc + CC_MAX);
    // A formula text (type 10) and the types without parameters hold no REAL values.
    if (!cc_has_reals(mdf_u16(cc, CC_TYPE))) return;
    std::uint32_t n = cc_real_count(cc);
    for (std::uint32_t i = 0; i < n; ++i) conv(cc + CC_PARAMS + 8 * i);
}

// Reads the block that a link field of parent names and binds the link to it, so that the
// link never has to be resolved by position (which could find another file's block). type 0
// accepts any valid block. A block of another type: -2004.
std::uint8_t *follow(std::int16_t io, std::uint8_t *parent, std::uint16_t offset,
                     std::uint16_t type) {
    const std::uint32_t position = mdf_u32(parent, offset);
    std::uint8_t *image = mdfblk_read(io, position);
    if (image == nullptr) return nullptr;
    if (type != 0 ? !mdf_block_is(image, type) : !mdf_block_valid(image)) {
        char expected[3];
        char what[48];
        if (type != 0)
            std::snprintf(what, sizeof what, "%s block expected", type_name(type, expected));
        else
            std::snprintf(what, sizeof what, "no valid block type");
        MDF_CORRUPT_IMAGE(image, position, what);
    }
    mdf_link_node *link = mdflst_link_find_field(parent + offset);
    if (link == nullptr) MDF_INTERNAL_ERROR();
    link->target = image;
    return image;
}

// Reads the chain of blocks of one type that starts at link first of owner and goes on through
// link next of each block, handing every block to visit in chain order. A position met twice
// is a loop: -2004.
template <typename Visit>
void read_chain(std::int16_t io, std::uint8_t *owner, std::uint16_t first, std::uint16_t next,
                std::uint16_t type, Visit &&visit) {
    std::unordered_set<std::uint32_t> seen;
    std::uint8_t *parent = owner;
    for (std::uint16_t link = first;; link = next) {
        std::uint32_t position = mdf_u32(parent, link);
        if (position != 0 && !seen.insert(position).second) {
            char expected[3];
            MDF_CORRUPT(type_name(type, expected), position, "chain runs in a loop");
        }
        std::uint8_t *block = follow(io, parent, link, type);
        if (block == nullptr) return;
        visit(block);
        parent = block;
    }
}

void read_channel(std::int16_t io, real_conversion conv, std::uint8_t *cn) {
    convert(conv, cn, CN_MIN);
    convert(conv, cn, CN_MAX);
    convert(conv, cn, CN_RATE);
    if (std::uint8_t *cc = follow(io, cn, CN_CONVERSION, MDFBLK_CC)) convert_cc(conv, cc);
    if (std::uint8_t *ce = follow(io, cn, CN_EXTENSION, MDFBLK_CE)) {
        if (conv != nullptr && mdf_u16(ce, CE_TYPE) == 1) {
            if (mdf_block_size(ce) < CE_TYPE1_SIZE)
                MDF_CORRUPT_IMAGE(ce, mdfblk_find_node(ce)->read_pos, "size below 24");
            conv(ce + CE_REAL1);
            conv(ce + CE_REAL2);
        }
    }
    follow(io, cn, CN_COMMENT, 0);
    // The long and display names are texts; a link to a block of another type is kept but never
    // taken for a name.
    if (mdf_block_size(cn) >= CN_LONG_NAME + 4) follow(io, cn, CN_LONG_NAME, 0);
    if (mdf_block_size(cn) >= CN_DISPLAY_NAME + 4) follow(io, cn, CN_DISPLAY_NAME, 0);
}

void read_data_group(std::int16_t io, real_conversion conv, std::uint8_t *dg,
                     mdf_tree_index *index) {
    if (std::uint8_t *tr = follow(io, dg, DG_TRIGGER, MDFBLK_TR)) {
        follow(io, tr, TR_COMMENT, 0);
        std::uint16_t events = mdf_u16(tr, TR_COUNT);
        for (std::uint32_t i = 0; i < events; ++i) {
            std::size_t event = TR_EVENTS + std::size_t{TR_EVENT_SIZE} * i;
            convert(conv, tr, event + TR_EVENT_TIME);
            convert(conv, tr, event + TR_EVENT_PRE);
            convert(conv, tr, event + TR_EVENT_POST);
        }
    }
    read_chain(io, dg, DG_FIRST_CG, CG_NEXT_CG, MDFBLK_CG, [&](std::uint8_t *cg) {
        std::vector<std::uint8_t *> *indexed = nullptr;
        if (index != nullptr) {
            index->add_group(cg);
            indexed = &index->channels[cg];
            indexed->clear();
        }
        follow(io, cg, CG_COMMENT, 0);
        read_chain(io, cg, CG_FIRST_CN, CN_NEXT_CN, MDFBLK_CN, [&](std::uint8_t *cn) {
            if (indexed != nullptr) indexed->push_back(cn);
            read_channel(io, conv, cn);
        });
    });
}

} // namespace

void mdf_vaxg_to_ieee(std::uint8_t *value) {
    std::uint16_t w0 = mdf_u16(value, 0);
    std::uint64_t sign = w0 >> 15;
    std::uint32_t exponent = (w0 >> 4) & 0x7FF;
    std::uint64_t fraction = (std::uint64_t{w0 & 0xFu} << 48) |
                             (std::uint64_t{mdf_u16(value, 2)} << 32) |
                             (std::uint64_t{mdf_u16(value, 4)} << 16) | mdf_u16(value, 6);
    std::uint64_t bits = 0;
    if (exponent > 2) {
        // 0.1f * 2^(e-1024) is 1.f * 2^((e-2)-1023): only the exponent moves.
        bits = (sign << 63) | (std::uint64_t{exponent - 2} << 52) | fraction;
    } else if (exponent != 0) {
        // Below the smallest IEEE normal: the value as a subnormal. The exponent field decides,
        // never the word with its sign bit.
        double m = std::ldexp(static_cast<double>((std::uint64_t{1} << 52) | fraction),
                              static_cast<int>(exponent) - 1025 - 52);
        bits = std::bit_cast<std::uint64_t>(sign != 0 ? -m : m);
    }
    mdf_set_u64(value, 0, bits);
}

void mdf_vaxd_to_ieee(std::uint8_t *value) {
    std::uint16_t w0 = mdf_u16(value, 0);
    std::uint64_t sign = w0 >> 15;
    std::uint32_t exponent = (w0 >> 7) & 0xFF;
    std::uint64_t fraction = (std::uint64_t{w0 & 0x7Fu} << 48) |
                             (std::uint64_t{mdf_u16(value, 2)} << 32) |
                             (std::uint64_t{mdf_u16(value, 4)} << 16) | mdf_u16(value, 6);
    std::uint64_t bits = 0;
    if (exponent != 0)
        bits = (sign << 63) | (std::uint64_t{exponent + 894} << 52) | (fraction >> 3);
    mdf_set_u64(value, 0, bits);
}

mdf_block_node *mdfblk_register(std::uint8_t *image, std::uint16_t length) {
    auto *node = mdflib_new_or_fail<mdf_block_node>();
    node->magic = MDF_BLOCK_MAGIC;
    node->level = mdflib_state.level;
    node->image = image;
    node->length = length;
    mdflst_block_insert(node);
    return node;
}

void mdfblk_register_links(std::uint8_t *image) {
    std::uint16_t type = mdf_block_type(image);
    for (const link_layout &layout : link_layouts) {
        if (layout.type != type) continue;
        std::uint16_t size = mdf_block_size(image);
        // Read blocks are checked for their smallest size first, created ones have it.
        if (size < layout.min_size) MDF_INTERNAL_ERROR();
        for (std::uint8_t i = 0; i < layout.count; ++i) {
            if (layout.offsets[i] + 4u > size) continue; // a field the block does not hold
            auto *link = mdflib_new_or_fail<mdf_link_node>();
            link->magic = MDF_LINK_MAGIC;
            link->level = mdflib_state.level;
            link->field = image + layout.offsets[i];
            link->image = image;
            link->value = mdf_u32(image, layout.offsets[i]);
            mdflst_link_insert(link);
        }
        return;
    }
}

mdf_block_node *mdfblk_find_node(const std::uint8_t *image) {
    mdf_block_node *node = mdflst_block_find_image(image);
    if (node == nullptr) MDF_INTERNAL_ERROR();
    return node;
}

std::uint16_t mdfblk_length(const std::uint8_t *image) {
    return mdfblk_find_node(image)->length;
}

std::uint16_t mdf_id_version(const std::uint8_t *id) {
    std::uint16_t version = mdf_u16(id, ID_VERSION);
    if (version != 0) return version;
    // "d.dd" padded with blanks or zero bytes.
    const std::uint8_t *f = id + ID_FORMAT_ID;
    auto digit = [](std::uint8_t c) { return c >= '0' && c <= '9'; };
    if (!digit(f[0]) || f[1] != '.' || !digit(f[2])) return ID_VERSION_200;
    unsigned minor = (f[2] - '0') * 10u + (digit(f[3]) ? f[3] - '0' : 0u);
    return static_cast<std::uint16_t>((f[0] - '0') * 100u + minor);
}

const char *mdf_cn_name(std::uint8_t *cn, char *spare) {
    if (mdf_block_size(cn) >= CN_LONG_NAME + 4) {
        const std::uint8_t *tx = mdfblk_link(cn, CN_LONG_NAME);
        if (mdf_block_is(tx, MDFBLK_TX)) return reinterpret_cast<const char *>(tx + TX_TEXT);
    }
    return mdf_field_text(cn + CN_NAME, CN_NAME_LEN, spare);
}

std::uint8_t *mdfblk_read_id(std::int16_t io) {
    image_holder id{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(ID_SIZE + 1))};
    mdfio_seek(io, 0, MDFIO_SEEK_SET);
    mdfio_read(id.image, ID_SIZE, io);
    if (std::memcmp(id.image + ID_FILE_ID, ID_UNFINISHED, 8) == 0)
        mdflib_fail(MDF_ERR_UNFINISHED, "(file identifier \"UnFinMF\")");
    if (std::memcmp(id.image + ID_FILE_ID, "MDF", 3) != 0)
        MDF_CORRUPT("ID", 0, "no MDF file identifier");
    std::uint16_t version = mdf_id_version(id.image);
    if (version >= ID_VERSION_400) {
        char detail[48];
        if (version < 1000)
            std::snprintf(detail, sizeof detail, "(version %u.%02u)", version / 100u,
                          version % 100u);
        else
            std::snprintf(detail, sizeof detail, "(version number %u)", version);
        mdflib_fail(MDF_ERR_VERSION, detail);
    }
    if (id.image[ID_RESERVED2] != 0 || id.image[ID_RESERVED2 + 1] != 0)
        MDF_CORRUPT("ID", 0, "reserved bytes 32 and 33 not zero");
    mdfblk_register(id.image, ID_SIZE);
    return id.release();
}

std::uint8_t *mdfblk_read(std::int16_t io, std::uint32_t position) {
    if (position == 0) return nullptr;
    if (std::uint64_t{position} + BLK_HEADER > mdfio_size(io))
        MDF_CORRUPT(nullptr, position, "link beyond the end of the file");
    std::uint8_t header[BLK_HEADER];
    mdfio_seek(io, position, MDFIO_SEEK_SET);
    mdfio_read(header, BLK_HEADER, io);
    std::uint16_t size = mdf_u16(header, BLK_SIZE);
    if (size < BLK_HEADER) MDF_CORRUPT_IMAGE(header, position, "size below 4");
    charge(mdf_u16(header, BLK_TYPE), size);
    // One byte more than the block, left zero: a text running to the block's end ends there.
    image_holder block{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(size + 1u))};
    std::memcpy(block.image, header, BLK_HEADER);
    if (size > BLK_HEADER)
        mdfio_read(block.image + BLK_HEADER, static_cast<std::uint16_t>(size - BLK_HEADER), io);
    mdf_block_node *node = mdfblk_register(block.image, size);
    std::uint8_t *image = block.release();
    node->read_pos = position;
    check_fits(image, position);
    mdfblk_register_links(image);
    return image;
}

std::uint64_t mdfblk_tree_limit(std::uint64_t file_size) {
    return tree_factor * file_size + tree_allowance;
}

void mdfblk_read_structure(std::int16_t io, bool convert_reals, std::uint8_t **id_out,
                           std::uint8_t **hd_out, mdf_tree_index *index) {
    *id_out = nullptr;
    *hd_out = nullptr;
    if (index != nullptr) {
        index->clear_groups();
        index->channels.clear();
    }
    budget_scope budget(mdfblk_tree_limit(mdfio_size(io)));
    std::uint8_t *id = mdfblk_read_id(io);
    real_conversion conv = nullptr;
    if (convert_reals) {
        switch (mdf_u16(id, ID_FLOAT_FORMAT)) {
        case MDF_FLOAT_IEEE: break;
        case MDF_FLOAT_VAX_G: conv = mdf_vaxg_to_ieee; break;
        case MDF_FLOAT_VAX_D: conv = mdf_vaxd_to_ieee; break;
        default: mdflib_fail(MDF_ERR_FLOAT_FORMAT);
        }
    }
    std::uint8_t *hd = mdfblk_read(io, HD_POSITION);
    if (!mdf_block_is(hd, MDFBLK_HD)) MDF_CORRUPT_IMAGE(hd, HD_POSITION, "HD block expected");
    follow(io, hd, HD_PROGRAM, MDFBLK_PR);
    follow(io, hd, HD_COMMENT, MDFBLK_TX);
    read_chain(io, hd, HD_FIRST_DG, DG_NEXT_DG, MDFBLK_DG, [&](std::uint8_t *dg) {
        if (index != nullptr) index->add_dg(dg);
        read_data_group(io, conv, dg, index);
    });
    if (index != nullptr) {
        index->first_dg = mdfblk_link(hd, HD_FIRST_DG);
        index->built = true;
    }
    *id_out = id;
    *hd_out = hd;
}

void mdfblk_format_date_time(const std::tm &when, char *date, char *time) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%04d", when.tm_mday, when.tm_mon + 1,
                  when.tm_year + 1900);
    mdflib_strlcpy(date, text, HD_DATE_LEN);
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
    mdflib_strlcpy(time, text, HD_TIME_LEN);
}

void mdfblk_local_date_time(char *date, char *time) {
    std::time_t now = std::time(nullptr);
    std::tm when{};
    if (const std::tm *local = std::localtime(&now)) when = *local;
    mdfblk_format_date_time(when, date, time);
}

std::uint8_t *mdfblk_new(std::uint16_t type) {
    std::uint16_t size = new_block_size(type);
    image_holder block{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(size + 1u))};
    std::uint8_t *image = block.image;
    if (type == MDFBLK_ID) {
        std::memcpy(image + ID_FILE_ID, "MDF     ", 8);
        std::memcpy(image + ID_FORMAT_ID, "2.00    ", 8);
        mdflib_strncpy(reinterpret_cast<char *>(image + ID_PROGRAM_ID), mdflib_state.program_id,
                       sizeof mdflib_state.program_id);
        mdf_set_u16(image, ID_BYTE_ORDER, 0);
        mdf_set_u16(image, ID_FLOAT_FORMAT, MDF_FLOAT_IEEE);
        mdf_set_u16(image, ID_VERSION, ID_VERSION_200);
    } else {
        mdf_set_u16(image, BLK_TYPE, type);
        mdf_set_u16(image, BLK_SIZE, size);
    }
    if (type == MDFBLK_HD) {
        char date[HD_DATE_LEN + 1];
        char time[HD_TIME_LEN + 1];
        mdfblk_local_date_time(date, time);
        std::memcpy(image + HD_DATE, date, HD_DATE_LEN);
        std::memcpy(image + HD_TIME, time, HD_TIME_LEN);
        mdflib_strlcpy(reinterpret_cast<char *>(image + HD_AUTHOR), "ZUV-Udaravo", HD_TEXT_LEN - 1);
    }
    mdfblk_register(image, size);
    block.release();
    mdfblk_register_links(image);
    return image;
}

std::uint8_t *mdfblk_copy(const std::uint8_t *image) {
    std::uint16_t length = mdfblk_length(image);
    image_holder block{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(length + 1u))};
    std::memcpy(block.image, image, length);
    mdfblk_register(block.image, length);
    std::uint8_t *copy = block.release();
    mdfblk_register_links(copy);
    return copy;
}

std::uint8_t *mdfblk_new_text(std::size_t length, const char *text) {
    if (length + BLK_HEADER + 1 > UINT16_MAX) mdflib_fail(MDF_ERR_MEMORY);
    auto size = static_cast<std::uint16_t>(length + BLK_HEADER + 1);
    image_holder block{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(size + 1u))};
    mdf_set_u16(block.image, BLK_TYPE, MDFBLK_TX);
    mdf_set_u16(block.image, BLK_SIZE, size);
    if (length > 0) std::memcpy(block.image + TX_TEXT, text, length);
    mdfblk_register(block.image, size);
    return block.release();
}

std::uint8_t *mdfblk_new_conversion(std::uint16_t type, std::uint16_t count) {
    std::uint32_t entry = (type == CC_TABLE_INTERP || type == CC_TABLE) ? 16 : 8;
    std::uint32_t size32 = CC_SIZE + entry * count;
    if (size32 > UINT16_MAX) mdflib_fail(MDF_ERR_MEMORY);
    auto size = static_cast<std::uint16_t>(size32);
    image_holder block{static_cast<std::uint8_t *>(mdflib_alloc_or_fail(size + 1u))};
    mdf_set_u16(block.image, BLK_TYPE, MDFBLK_CC);
    mdf_set_u16(block.image, BLK_SIZE, size);
    mdf_set_u16(block.image, CC_TYPE, type);
    mdf_set_u16(block.image, CC_COUNT, count);
    mdfblk_register(block.image, size);
    return block.release();
}

std::uint8_t *mdfblk_link_target(std::uint8_t *field) {
    mdf_link_node *link = mdflst_link_find_field(field);
    if (link == nullptr) mdflib_fail(MDF_ERR_UNKNOWN_LINK);
    if (link->target != nullptr) return link->target;
    if (link->value == 0) return nullptr;
    mdf_block_node *node = mdflst_block_find_position(link->value);
    if (node == nullptr || node->image == nullptr) mdflib_fail(MDF_ERR_UNKNOWN_BLOCK);
    link->target = node->image;
    if (!mdf_block_valid(link->target)) MDF_INTERNAL_ERROR();
    return link->target;
}

void mdfblk_set_link(std::uint8_t *field, std::uint32_t value, std::uint8_t *target) {
    mdf_link_node *link = mdflst_link_find_field(field);
    if (link == nullptr) mdflib_fail(MDF_ERR_UNKNOWN_LINK);
    link->target = target;
    link->value = value;
}

// ---------------------------------------------------------------------------------------------
// Tree index
// ---------------------------------------------------------------------------------------------

namespace {

// True when the link field at image + offset is bound to target (null: no block), judged from
// its link node alone, so that a changed or unknown link never fails here but only shows that
// the index is out of date.
bool bound_to(std::uint8_t *image, std::uint16_t offset, const std::uint8_t *target) {
    const mdf_link_node *link = mdflst_link_find_field(image + offset);
    if (link == nullptr) return false;
    return target != nullptr ? link->target == target : link->target == nullptr && link->value == 0;
}

// Makes the group part of the index again by walking the chains (a chain is left where it
// meets an image a second time).
void rebuild_groups(mdf_tree_index &index, std::uint8_t *first) {
    index.clear_groups();
    std::unordered_set<const std::uint8_t *> dgs;
    for (std::uint8_t *dg = first; dg != nullptr && dgs.insert(dg).second;
         dg = mdfblk_link(dg, DG_NEXT_DG)) {
        index.add_dg(dg);
        std::unordered_set<const std::uint8_t *> cgs;
        for (std::uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG);
             cg != nullptr && cgs.insert(cg).second; cg = mdfblk_link(cg, CG_NEXT_CG))
            index.add_group(cg);
    }
    index.first_dg = first;
    index.built = true;
}

// True when the DG chain and the CG chain of d still end where they did when indexed.
bool chain_current(mdf_file_rec *file, const mdf_tree_index &index) {
    return index.built && bound_to(file->hd, HD_FIRST_DG, index.first_dg) &&
           (index.dgs.empty() || bound_to(index.dgs.back().dg, DG_NEXT_DG, nullptr));
}
bool dg_current(const mdf_tree_index::data_group &d) {
    return bound_to(d.dg, DG_FIRST_CG, d.first_cg) &&
           (d.last_cg == nullptr || bound_to(d.last_cg, CG_NEXT_CG, nullptr));
}

void check_file(const mdf_file_rec *file) {
    if (file == nullptr || file->magic != MDF_FILE_MAGIC || file->hd == nullptr)
        MDF_INTERNAL_ERROR();
}

// The index of the file with its group part up to date (as far as the chain ends show).
mdf_tree_index &groups_of(mdf_file_rec *file) {
    check_file(file);
    if (file->index == nullptr) file->index = new mdf_tree_index();
    mdf_tree_index &index = *file->index;
    if (!chain_current(file, index)) rebuild_groups(index, mdfblk_link(file->hd, HD_FIRST_DG));
    return index;
}

// The indexed DG dg of the file with its CG chain up to date, or null when dg is none of the
// file's DGs.
const mdf_tree_index::data_group *data_group_of(mdf_file_rec *file, const std::uint8_t *dg) {
    mdf_tree_index *index = &groups_of(file);
    auto it = index->dg_position.find(dg);
    if (it == index->dg_position.end()) return nullptr;
    if (dg_current(index->dgs[it->second])) return &index->dgs[it->second];
    rebuild_groups(*index, mdfblk_link(file->hd, HD_FIRST_DG));
    it = index->dg_position.find(dg);
    return it != index->dg_position.end() ? &index->dgs[it->second] : nullptr;
}

// The CNs of cg in chain order, made again when the chain's ends changed.
const std::vector<std::uint8_t *> &channels_of(mdf_file_rec *file, std::uint8_t *cg) {
    if (cg == nullptr) MDF_INTERNAL_ERROR();
    mdf_tree_index &index = groups_of(file);
    auto [it, fresh] = index.channels.try_emplace(cg);
    std::vector<std::uint8_t *> &cns = it->second;
    bool current = !fresh && (cns.empty() ? bound_to(cg, CG_FIRST_CN, nullptr)
                                          : bound_to(cg, CG_FIRST_CN, cns.front()) &&
                                                bound_to(cns.back(), CN_NEXT_CN, nullptr));
    if (!current) {
        cns.clear();
        std::unordered_set<const std::uint8_t *> seen;
        for (std::uint8_t *cn = mdfblk_link(cg, CG_FIRST_CN);
             cn != nullptr && seen.insert(cn).second; cn = mdfblk_link(cn, CN_NEXT_CN))
            cns.push_back(cn);
    }
    return cns;
}

std::uint16_t clamp16(std::size_t n) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(n, UINT16_MAX));
}

std::uint16_t walk_cg_count(std::uint8_t *dg) {
    std::uint16_t n = 0;
    for (std::uint8_t *cg = mdfblk_link(dg, DG_FIRST_CG); cg != nullptr && n < UINT16_MAX;
         cg = mdfblk_link(cg, CG_NEXT_CG))
        ++n;
    return n;
}

} // namespace

std::uint16_t mdfblk_cg_count(std::uint8_t *dg) {
    // A DG of an open file's tree is counted by that file's index while it is up to date, any
    // other along its chain.
    for (mdf_file_rec *f = mdflib_state.files; f != nullptr; f = f->next) {
        check_file(f);
        const mdf_tree_index *index = f->index;
        if (index == nullptr || !chain_current(f, *index)) continue;
        auto it = index->dg_position.find(dg);
        if (it == index->dg_position.end()) continue;
        const mdf_tree_index::data_group &d = index->dgs[it->second];
        if (dg_current(d)) return clamp16(d.cgs);
        break;
    }
    return walk_cg_count(dg);
}

mdf_tree_index *mdfblk_index_new() {
    return new mdf_tree_index();
}

void mdfblk_index_delete(mdf_tree_index *index) {
    delete index;
}

std::uint16_t mdfblk_index_groups(mdf_file_rec *file) {
    // Every DG's chain is checked: a count is asked for once per file, not per group.
    mdf_tree_index &index = groups_of(file);
    for (const mdf_tree_index::data_group &d : index.dgs) {
        if (!dg_current(d)) {
            rebuild_groups(index, mdfblk_link(file->hd, HD_FIRST_DG));
            break;
        }
    }
    return clamp16(index.groups.size());
}

bool mdfblk_index_group(mdf_file_rec *file, std::uint16_t number, std::uint8_t **dg,
                        std::uint8_t **cg) {
    *dg = nullptr;
    *cg = nullptr;
    mdf_tree_index *index = &groups_of(file);
    if (number == 0 || number > index->groups.size()) return false;
    // The CG chain of the group's DG may have grown since: then the numbers behind it moved.
    if (!dg_current(index->dgs[index->groups[number - 1u].dg])) {
        rebuild_groups(*index, mdfblk_link(file->hd, HD_FIRST_DG));
        if (number > index->groups.size()) return false;
    }
    const mdf_tree_index::group &g = index->groups[number - 1u];
    *dg = index->dgs[g.dg].dg;
    *cg = g.cg;
    return true;
}

std::uint16_t mdfblk_index_cg_count(mdf_file_rec *file, std::uint8_t *dg) {
    const mdf_tree_index::data_group *d = data_group_of(file, dg);
    return d != nullptr ? clamp16(d->cgs) : walk_cg_count(dg);
}

std::uint16_t mdfblk_index_cn_count(mdf_file_rec *file, std::uint8_t *cg) {
    return clamp16(channels_of(file, cg).size());
}

std::uint8_t *mdfblk_index_cn(mdf_file_rec *file, std::uint8_t *cg, std::uint16_t number) {
    const std::vector<std::uint8_t *> &cns = channels_of(file, cg);
    if (number == 0 || number > cns.size()) return nullptr;
    return cns[number - 1u];
}
