/*
 * Emulated embedded controller of ZAN boards: the EC API table on the host
 * ports 0x68 (data) and 0x6C (command write / status read).
 *
 * Transactions start with command 0x88 on the command port, then:
 *   read:  table, offset            -> EC offers two bytes: the offset, the value
 *   write: table | 0x80, offset, value
 * Registers: table 0 offset 0x00 is the API table probe (0xFF: no table);
 * table 1 offset 0x21 is the FW override pin register (bit 7 = pin on).
 *
 * The EC is powered apart from the host: a host reset drops a transaction in
 * flight but keeps the pin register, as the board's automatic update relies on.
 *
 * Properties:
 *   api-table=on|off  probe answers 0x01 / 0xFF
 *   silent=on|off     no EC at all: every port read gives 0xFF, writes ignored
 *   pin=on|off        pin register at power-on: 0x80 / 0x00
 *   log=FILE          one line per port access appended ("W 6C 88", "R 68 00")
 *
 * This work is licensed under the terms of the GNU GPL, version 2 or later.
 */

#include "qemu/osdep.h"
#include "hw/isa/isa.h"
#include "hw/qdev-properties.h"
#include "qapi/error.h"
#include "qemu/module.h"
#include "qom/object.h"
#include "trace.h"

#define TYPE_ZAN_EC "zan-ec"
OBJECT_DECLARE_SIMPLE_TYPE(ZanEcState, ZAN_EC)

#define ZAN_EC_DATA_PORT 0x68
#define ZAN_EC_CMD_PORT 0x6C

#define ZAN_EC_STS_OBF 0x01
#define ZAN_EC_STS_IBF 0x02

#define ZAN_EC_CMD_API 0x88
#define ZAN_EC_TABLE_WRITE 0x80

#define ZAN_EC_PROBE_TABLE 0
#define ZAN_EC_PROBE_OFFSET 0x00
#define ZAN_EC_PROBE_PRESENT 0x01
#define ZAN_EC_PIN_TABLE 1
#define ZAN_EC_PIN_OFFSET 0x21
#define ZAN_EC_PIN_ON 0x80

typedef enum ZanEcPhase {
    ZAN_EC_IDLE,        /* waiting for a command */
    ZAN_EC_WANT_TABLE,  /* command 0x88 taken */
    ZAN_EC_WANT_OFFSET,
    ZAN_EC_WANT_VALUE,  /* write transaction: offset taken */
} ZanEcPhase;

struct ZanEcState {
    ISADevice parent_obj;

    MemoryRegion data_io;
    MemoryRegion cmd_io;

    bool api_table;
    bool silent;
    bool pin_initially_on;
    char *log_path;
    FILE *log;

    /* EC side, kept across host resets */
    uint8_t pin_reg;

    /* host interface, dropped on a host reset */
    ZanEcPhase phase;
    uint8_t table;
    uint8_t offset;
    uint8_t out[2];
    uint8_t out_len;
    uint8_t out_pos;
    uint8_t data_latch;
};

static void zan_ec_log(ZanEcState *s, char dir, uint16_t port, uint8_t val)
{
    if (s->log) {
        fprintf(s->log, "%c %02X %02X\n", dir, port, val);
        /* tests read the file while the guest still runs */
        fflush(s->log);
    }
}

static uint8_t zan_ec_reg_read(ZanEcState *s, uint8_t table, uint8_t offset)
{
    uint8_t val = 0x00;

    if (table == ZAN_EC_PROBE_TABLE && offset == ZAN_EC_PROBE_OFFSET) {
        val = s->api_table ? ZAN_EC_PROBE_PRESENT : 0xFF;
    } else if (table == ZAN_EC_PIN_TABLE && offset == ZAN_EC_PIN_OFFSET) {
        val = s->pin_reg;
    }
    trace_zan_ec_reg_read(table, offset, val);
    return val;
}

static void zan_ec_reg_write(ZanEcState *s, uint8_t table, uint8_t offset,
                             uint8_t val)
{
    trace_zan_ec_reg_write(table, offset, val);
    if (table == ZAN_EC_PIN_TABLE && offset == ZAN_EC_PIN_OFFSET) {
        s->pin_reg = val;
    }
}

static void zan_ec_drop_transaction(ZanEcState *s)
{
    s->phase = ZAN_EC_IDLE;
    s->out_len = 0;
    s->out_pos = 0;
}

static uint8_t zan_ec_status(ZanEcState *s)
{
    /* bytes are taken at once, so input-buffer-full never shows */
    return s->out_pos < s->out_len ? ZAN_EC_STS_OBF : 0;
}

static void zan_ec_data_in(ZanEcState *s, uint8_t val)
{
    switch (s->phase) {
    case ZAN_EC_WANT_TABLE:
        s->table = val;
        s->phase = ZAN_EC_WANT_OFFSET;
        break;
    case ZAN_EC_WANT_OFFSET:
        s->offset = val;
        if (s->table & ZAN_EC_TABLE_WRITE) {
            s->phase = ZAN_EC_WANT_VALUE;
        } else {
            s->out[0] = s->offset;
            s->out[1] = zan_ec_reg_read(s, s->table, s->offset);
            s->out_len = 2;
            s->out_pos = 0;
            s->phase = ZAN_EC_IDLE;
        }
        break;
    case ZAN_EC_WANT_VALUE:
        zan_ec_reg_write(s, s->table & ~ZAN_EC_TABLE_WRITE, s->offset, val);
        s->phase = ZAN_EC_IDLE;
        break;
    case ZAN_EC_IDLE:
    default:
        trace_zan_ec_unexpected("data byte without a command", val);
        break;
    }
}

static uint8_t zan_ec_data_out(ZanEcState *s)
{
    if (s->out_pos < s->out_len) {
        s->data_latch = s->out[s->out_pos++];
    }
    return s->data_latch;
}

static uint64_t zan_ec_data_read(void *opaque, hwaddr addr, unsigned size)
{
    ZanEcState *s = opaque;
    uint8_t val = s->silent ? 0xFF : zan_ec_data_out(s);

    trace_zan_ec_port_read(ZAN_EC_DATA_PORT, val);
    zan_ec_log(s, 'R', ZAN_EC_DATA_PORT, val);
    return val;
}

static void zan_ec_data_write(void *opaque, hwaddr addr, uint64_t v,
                              unsigned size)
{
    ZanEcState *s = opaque;
    uint8_t val = v;

    trace_zan_ec_port_write(ZAN_EC_DATA_PORT, val);
    zan_ec_log(s, 'W', ZAN_EC_DATA_PORT, val);
    if (!s->silent) {
        zan_ec_data_in(s, val);
    }
}

static uint64_t zan_ec_cmd_read(void *opaque, hwaddr addr, unsigned size)
{
    ZanEcState *s = opaque;
    uint8_t val = s->silent ? 0xFF : zan_ec_status(s);

    trace_zan_ec_port_read(ZAN_EC_CMD_PORT, val);
    zan_ec_log(s, 'R', ZAN_EC_CMD_PORT, val);
    return val;
}

static void zan_ec_cmd_write(void *opaque, hwaddr addr, uint64_t v,
                             unsigned size)
{
    ZanEcState *s = opaque;
    uint8_t val = v;

    trace_zan_ec_port_write(ZAN_EC_CMD_PORT, val);
    zan_ec_log(s, 'W', ZAN_EC_CMD_PORT, val);
    if (s->silent) {
        return;
    }
    /* a command always starts afresh, whatever was left unfinished */
    zan_ec_drop_transaction(s);
    if (val == ZAN_EC_CMD_API) {
        s->phase = ZAN_EC_WANT_TABLE;
    } else {
        trace_zan_ec_unexpected("unknown command", val);
    }
}

static const MemoryRegionOps zan_ec_data_ops = {
    .read = zan_ec_data_read,
    .write = zan_ec_data_write,
    .valid.min_access_size = 1,
    .valid.max_access_size = 1,
    .endianness = DEVICE_LITTLE_ENDIAN,
};

static const MemoryRegionOps zan_ec_cmd_ops = {
    .read = zan_ec_cmd_read,
    .write = zan_ec_cmd_write,
    .valid.min_access_size = 1,
    .valid.max_access_size = 1,
    .endianness = DEVICE_LITTLE_ENDIAN,
};

static void zan_ec_reset(DeviceState *d)
{
    ZanEcState *s = ZAN_EC(d);

    /* pin_reg is deliberately left alone: the EC does not see host resets */
    zan_ec_drop_transaction(s);
    s->data_latch = 0;
    trace_zan_ec_reset(s->pin_reg);
}

static void zan_ec_realize(DeviceState *d, Error **errp)
{
    ISADevice *isa = ISA_DEVICE(d);
    ZanEcState *s = ZAN_EC(d);

    if (s->log_path && s->log_path[0]) {
        s->log = fopen(s->log_path, "a");
        if (!s->log) {
            error_setg_errno(errp, errno, "zan-ec: cannot open log file '%s'",
                             s->log_path);
            return;
        }
    }
    s->pin_reg = s->pin_initially_on ? ZAN_EC_PIN_ON : 0x00;
    zan_ec_drop_transaction(s);
    s->data_latch = 0;

    memory_region_init_io(&s->data_io, OBJECT(d), &zan_ec_data_ops, s,
                          "zan-ec-data", 1);
    memory_region_init_io(&s->cmd_io, OBJECT(d), &zan_ec_cmd_ops, s,
                          "zan-ec-cmd", 1);
    isa_register_ioport(isa, &s->data_io, ZAN_EC_DATA_PORT);
    isa_register_ioport(isa, &s->cmd_io, ZAN_EC_CMD_PORT);
}

static void zan_ec_unrealize(DeviceState *d)
{
    ZanEcState *s = ZAN_EC(d);

    if (s->log) {
        fclose(s->log);
        s->log = NULL;
    }
}

static Property zan_ec_properties[] = {
    DEFINE_PROP_BOOL("api-table", ZanEcState, api_table, true),
    DEFINE_PROP_BOOL("silent", ZanEcState, silent, false),
    DEFINE_PROP_BOOL("pin", ZanEcState, pin_initially_on, false),
    DEFINE_PROP_STRING("log", ZanEcState, log_path),
    DEFINE_PROP_END_OF_LIST(),
};

static void zan_ec_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);

    dc->realize = zan_ec_realize;
    dc->unrealize = zan_ec_unrealize;
    dc->reset = zan_ec_reset;
    dc->desc = "ZAN board embedded controller (EC API table on ports 0x68/0x6C)";
    device_class_set_props(dc, zan_ec_properties);
    set_bit(DEVICE_CATEGORY_MISC, dc->categories);
}

static const TypeInfo zan_ec_info = {
    .name          = TYPE_ZAN_EC,
    .parent        = TYPE_ISA_DEVICE,
    .instance_size = sizeof(ZanEcState),
    .class_init    = zan_ec_class_init,
};

static void zan_ec_register_types(void)
{
    type_register_static(&zan_ec_info);
}

type_init(zan_ec_register_types)
