/*
 * Emulated Management Engine interface of ZAN boards: the HECI host
 * interface as a PCI function, with a small ME behind it that answers the
 * HECI bus messages of the kernel's mei_me driver and the MKHI image-version
 * request for the code partition "FTPR".
 *
 * BAR0 (MMIO):
 *   0x00 H_CB_WW    host circular buffer write window (host -> ME)
 *   0x04 H_CSR      host control/status: depth, pointers, RST RDY IG IS IE
 *   0x08 ME_CB_RW   ME circular buffer read window (ME -> host)
 *   0x0C ME_CSR_HA  ME control/status as the host sees it
 * Config space 0x40 holds the first firmware status register.
 *
 * The ME works the moment the host rings it (H_IG): it takes every whole
 * message out of the host buffer, answers, and moves as many of its pending
 * messages into its own buffer as fit, interrupting the host when it did.
 * A client reply waits for the host's flow-control credit (the driver sends
 * one when a read is posted), then the ME grants the host its next send.
 *
 * Properties:
 *   fw-version=a.b.c.d  version in the FTPR records (default 12.0.49.1534)
 *   result=R            result byte of the image-version reply (default 0)
 *   records=N           record count of that reply (default 1)
 *   mkhi=on|off         off: the MKHI client is not enumerated
 *   log=FILE            one line per bus or client message, either way
 *
 * This work is licensed under the terms of the GNU GPL, version 2 or later.
 */

#include "qemu/osdep.h"
#include "hw/pci/pci.h"
#include "hw/pci/msi.h"
#include "hw/qdev-properties.h"
#include "qapi/error.h"
#include "qemu/ctype.h"
#include "qemu/module.h"
#include "qom/object.h"
#include "trace.h"

#define TYPE_ZAN_MEI "zan-mei"
OBJECT_DECLARE_SIMPLE_TYPE(ZanMeiState, ZAN_MEI)

/*
 * 82G33 family, like q35's own host bridge; mei_me gives this id its plainest
 * configuration: no firmware-status quirk, no D0i3, no DMA ring, no power
 * gating, and no firmware-version query of its own after enumeration.
 */
#define ZAN_MEI_DEVICE_ID 0x29C4

#define ZAN_MEI_MMIO_SIZE 0x1000
#define ZAN_MEI_MSI_OFFSET 0x8C
#define ZAN_MEI_CFG_HFS_1 0x40
/* normal state, init complete; bit 31 (D0i3 support) and op mode clear */
#define ZAN_MEI_HFS_1_VALUE 0x00000285u

#define ZAN_MEI_H_CB_WW 0x00
#define ZAN_MEI_H_CSR 0x04
#define ZAN_MEI_ME_CB_RW 0x08
#define ZAN_MEI_ME_CSR_HA 0x0C

#define ZAN_MEI_CSR_IE 0x01
#define ZAN_MEI_CSR_IS 0x02
#define ZAN_MEI_CSR_IG 0x04
#define ZAN_MEI_CSR_RDY 0x08
#define ZAN_MEI_CSR_RST 0x10
#define ZAN_MEI_H_CSR_HOST_BITS (ZAN_MEI_CSR_IE | ZAN_MEI_CSR_RDY | ZAN_MEI_CSR_RST)

/* Both depths divide 256, so the 8-bit pointers index the rings directly. */
#define ZAN_MEI_H_DEPTH 32
#define ZAN_MEI_ME_DEPTH 32
/* whole fragments only: a header and at most depth - 1 payload slots */
#define ZAN_MEI_FRAGMENT_MAX (4 * (ZAN_MEI_ME_DEPTH - 1))
#define ZAN_MEI_OUT_SLOTS 1024

#define ZAN_MEI_HDR_ME(h) ((h) & 0xFF)
#define ZAN_MEI_HDR_HOST(h) (((h) >> 8) & 0xFF)
#define ZAN_MEI_HDR_LEN(h) (((h) >> 16) & 0x1FF)
#define ZAN_MEI_HDR_RESERVED(h) (((h) >> 25) & 0x7)
#define ZAN_MEI_HDR_COMPLETE 0x80000000u

/* HECI bus messages */
#define HBM_HOST_START_REQ 0x01
#define HBM_HOST_STOP_REQ 0x02
#define HBM_HOST_ENUM_REQ 0x04
#define HBM_PROPERTIES_REQ 0x05
#define HBM_CONNECT_REQ 0x06
#define HBM_DISCONNECT_REQ 0x07
#define HBM_FLOW_CONTROL 0x08
#define HBM_DISCONNECT_RES 0x87
#define HBM_RESPONSE 0x80
#define HBM_STATUS_SUCCESS 0
#define HBM_STATUS_NOT_FOUND 1
#define HBM_STATUS_REJECTED 3
/* The oldest bus version the driver speaks keeps it off power gating,
 * capabilities, DMA rings and dynamic clients. */
#define ZAN_MEI_HBM_MAJOR 1
#define ZAN_MEI_HBM_MINOR 0

/* the MKHI client */
#define ZAN_MEI_MKHI_ADDR 7
#define ZAN_MEI_MKHI_MAX_MSG 512
#define MKHI_GROUP_GEN 0xFF
#define MKHI_CMD_IMAGE_VERSION 0x1C
#define MKHI_RESPONSE 0x80
#define MKHI_RESULT_UNKNOWN 0xFF
#define ZAN_MEI_RECORD_SIZE 88
#define ZAN_MEI_RECORDS_CARRIED ((ZAN_MEI_MKHI_MAX_MSG - 8) / ZAN_MEI_RECORD_SIZE)

/* {8E6A6715-9ABC-4043-88EF-9E39C6F63E0F} in its wire order */
static const uint8_t zan_mei_mkhi_guid[16] = {
    0x15, 0x67, 0x6A, 0x8E, 0xBC, 0x9A, 0x43, 0x40,
    0x88, 0xEF, 0x9E, 0x39, 0xC6, 0xF6, 0x3E, 0x0F,
};

struct ZanMeiState {
    PCIDevice parent_obj;

    MemoryRegion mmio;

    /* properties */
    char *fw_version_text;
    uint8_t result;
    uint32_t records;
    bool mkhi;
    char *log_path;

    FILE *log;
    uint16_t fw_version[4];

    /* host side of the interface */
    uint32_t h_csr;             /* IE, IS, RDY, RST as they stand */
    uint32_t h_cb[ZAN_MEI_H_DEPTH];
    uint8_t h_wp, h_rp;
    bool irq_level;             /* IS && IE as last signalled */

    /* ME side */
    bool me_ready;
    uint32_t me_cb[ZAN_MEI_ME_DEPTH];
    uint8_t me_wp, me_rp;
    uint32_t out[ZAN_MEI_OUT_SLOTS];   /* framed fragments waiting for room */
    uint32_t out_len;

    /* the one connection of the MKHI client */
    bool connected;
    uint8_t host_addr;
    uint32_t host_credits;      /* reads the host has posted */
    uint8_t rx[ZAN_MEI_MKHI_MAX_MSG];
    uint32_t rx_len;
    uint8_t reply[ZAN_MEI_MKHI_MAX_MSG];
    uint32_t reply_len;         /* 0: no reply waiting for a credit */
};

static void zan_mei_log(ZanMeiState *s, const char *who, uint8_t me_addr,
                        uint8_t host_addr, const uint8_t *data, uint32_t len)
{
    uint32_t i;

    if (!s->log) {
        return;
    }
    fprintf(s->log, "%s %02X %02X:", who, me_addr, host_addr);
    for (i = 0; i < len; i++) {
        fprintf(s->log, " %02X", data[i]);
    }
    fputc('\n', s->log);
    /* tests read the file while the guest still runs */
    fflush(s->log);
}

static void zan_mei_update_irq(ZanMeiState *s)
{
    PCIDevice *pdev = PCI_DEVICE(s);
    bool level = (s->h_csr & ZAN_MEI_CSR_IS) && (s->h_csr & ZAN_MEI_CSR_IE);

    if (msi_enabled(pdev)) {
        pci_set_irq(pdev, 0);
        /* the driver masks IE while it works; a cause left pending must
         * come through again when it unmasks */
        if (level && !s->irq_level) {
            msi_notify(pdev, 0);
        }
    } else {
        pci_set_irq(pdev, level);
    }
    s->irq_level = level;
}

static void zan_mei_interrupt(ZanMeiState *s)
{
    s->h_csr |= ZAN_MEI_CSR_IS;
    zan_mei_update_irq(s);
}

static uint32_t zan_mei_fragment_slots(uint32_t hdr)
{
    return 1 + DIV_ROUND_UP(ZAN_MEI_HDR_LEN(hdr), 4);
}

/* Moves whole pending fragments into the ME buffer while they fit. */
static void zan_mei_pump(ZanMeiState *s)
{
    bool moved = false;

    while (s->out_len > 0) {
        uint32_t n = zan_mei_fragment_slots(s->out[0]);
        uint8_t filled = s->me_wp - s->me_rp;
        uint32_t i;

        if (filled + n > ZAN_MEI_ME_DEPTH) {
            break;
        }
        for (i = 0; i < n; i++) {
            s->me_cb[s->me_wp++ % ZAN_MEI_ME_DEPTH] = s->out[i];
        }
        memmove(s->out, s->out + n, (s->out_len - n) * sizeof(s->out[0]));
        s->out_len -= n;
        moved = true;
    }
    if (moved) {
        zan_mei_interrupt(s);
    }
}

static void zan_mei_send(ZanMeiState *s, uint8_t me_addr, uint8_t host_addr,
                         const uint8_t *data, uint32_t len)
{
    uint32_t done = 0;

    trace_zan_mei_send(me_addr, host_addr, len);
    zan_mei_log(s, "ME", me_addr, host_addr, data, len);
    do {
        uint32_t part = MIN(len - done, ZAN_MEI_FRAGMENT_MAX);
        uint32_t hdr = me_addr | (host_addr << 8) | (part << 16);
        uint32_t slots = 1 + DIV_ROUND_UP(part, 4);
        uint32_t i;

        if (done + part == len) {
            hdr |= ZAN_MEI_HDR_COMPLETE;
        }
        if (s->out_len + slots > ZAN_MEI_OUT_SLOTS) {
            trace_zan_mei_unexpected("outgoing queue full, message dropped", len);
            return;
        }
        s->out[s->out_len++] = hdr;
        for (i = 0; i < slots - 1; i++) {
            uint32_t word = 0;
            uint32_t at = done + 4 * i;

            memcpy(&word, data + at, MIN(4, len - at));
            s->out[s->out_len++] = le32_to_cpu(word);
        }
        done += part;
    } while (done < len);
}

static void zan_mei_flow_credit(ZanMeiState *s)
{
    uint8_t fc[8] = { HBM_FLOW_CONTROL, ZAN_MEI_MKHI_ADDR, s->host_addr };

    zan_mei_send(s, 0, 0, fc, sizeof(fc));
}

/* A reply goes out only against a read the host has posted. */
static void zan_mei_try_reply(ZanMeiState *s)
{
    if (!s->connected || s->reply_len == 0 || s->host_credits == 0) {
        return;
    }
    s->host_credits--;
    zan_mei_send(s, ZAN_MEI_MKHI_ADDR, s->host_addr, s->reply, s->reply_len);
    s->reply_len = 0;
    zan_mei_flow_credit(s);
}

static void zan_mei_put_le16(uint8_t *p, uint16_t v)
{
    p[0] = v;
    p[1] = v >> 8;
}

static void zan_mei_put_le32(uint8_t *p, uint32_t v)
{
    zan_mei_put_le16(p, v);
    zan_mei_put_le16(p + 2, v >> 16);
}

static void zan_mei_mkhi_request(ZanMeiState *s, const uint8_t *req,
                                 uint32_t len)
{
    uint8_t *r = s->reply;

    memset(r, 0, sizeof(s->reply));
    if (len < 4) {
        trace_zan_mei_unexpected("MKHI message shorter than its header", len);
        return;
    }
    r[0] = req[0];
    r[1] = req[1] | MKHI_RESPONSE;
    s->reply_len = 4;
    if (req[0] != MKHI_GROUP_GEN || (req[1] & 0x7F) != MKHI_CMD_IMAGE_VERSION ||
        len < 8) {
        trace_zan_mei_unexpected("unknown MKHI request", req[0] | req[1] << 8);
        r[3] = MKHI_RESULT_UNKNOWN;
    } else if (memcmp(req + 4, "FTPR", 4) != 0) {
        /* only the code partition has a version here */
        r[3] = 0x81;
        s->reply_len = 8;
    } else {
        uint32_t carried = MIN(s->records, ZAN_MEI_RECORDS_CARRIED);
        uint32_t k;
        int f;

        r[3] = s->result;
        zan_mei_put_le32(r + 4, s->records);
        for (k = 0; k < carried; k++) {
            uint8_t *rec = r + 8 + k * ZAN_MEI_RECORD_SIZE;

            memcpy(rec, "FTPR", 4);
            for (f = 0; f < 4; f++) {
                zan_mei_put_le16(rec + 12 + 2 * f, s->fw_version[f]);
            }
        }
        s->reply_len = 8 + carried * ZAN_MEI_RECORD_SIZE;
    }
    zan_mei_try_reply(s);
}

static void zan_mei_client_message(ZanMeiState *s, uint32_t hdr,
                                   const uint8_t *data, uint32_t len)
{
    uint8_t me_addr = ZAN_MEI_HDR_ME(hdr);
    uint8_t host_addr = ZAN_MEI_HDR_HOST(hdr);

    zan_mei_log(s, "H", me_addr, host_addr, data, len);
    if (!s->connected || me_addr != ZAN_MEI_MKHI_ADDR ||
        host_addr != s->host_addr) {
        trace_zan_mei_unexpected("message for no connection", me_addr);
        return;
    }
    if (s->rx_len + len > sizeof(s->rx)) {
        trace_zan_mei_unexpected("client message too long", s->rx_len + len);
        s->rx_len = 0;
        return;
    }
    memcpy(s->rx + s->rx_len, data, len);
    s->rx_len += len;
    if (hdr & ZAN_MEI_HDR_COMPLETE) {
        zan_mei_mkhi_request(s, s->rx, s->rx_len);
        s->rx_len = 0;
    }
}

static void zan_mei_bus_message(ZanMeiState *s, const uint8_t *m, uint32_t len)
{
    uint8_t r[36] = { 0 };
    uint8_t cmd = len > 0 ? m[0] : 0;
    uint8_t me_addr = len > 1 ? m[1] : 0;
    uint8_t host_addr = len > 2 ? m[2] : 0;
    bool mkhi_here = s->mkhi && me_addr == ZAN_MEI_MKHI_ADDR;

    zan_mei_log(s, "H", 0, 0, m, len);
    trace_zan_mei_bus(cmd, me_addr, host_addr);
    r[0] = cmd | HBM_RESPONSE;
    switch (cmd) {
    case HBM_HOST_START_REQ:
        r[1] = len >= 4 && m[3] == ZAN_MEI_HBM_MAJOR && m[2] == ZAN_MEI_HBM_MINOR;
        r[2] = ZAN_MEI_HBM_MINOR;
        r[3] = ZAN_MEI_HBM_MAJOR;
        zan_mei_send(s, 0, 0, r, 4);
        break;
    case HBM_HOST_STOP_REQ:
        zan_mei_send(s, 0, 0, r, 4);
        break;
    case HBM_HOST_ENUM_REQ:
        if (s->mkhi) {
            r[4 + ZAN_MEI_MKHI_ADDR / 8] = 1 << (ZAN_MEI_MKHI_ADDR % 8);
        }
        zan_mei_send(s, 0, 0, r, 36);
        break;
    case HBM_PROPERTIES_REQ:
        r[1] = me_addr;
        if (!mkhi_here) {
            r[2] = HBM_STATUS_NOT_FOUND;
        } else {
            memcpy(r + 4, zan_mei_mkhi_guid, 16);
            r[20] = 1;      /* protocol version */
            r[21] = 1;      /* connections */
            zan_mei_put_le32(r + 24, ZAN_MEI_MKHI_MAX_MSG);
        }
        zan_mei_send(s, 0, 0, r, 28);
        break;
    case HBM_CONNECT_REQ:
        r[1] = me_addr;
        r[2] = host_addr;
        if (!mkhi_here) {
            r[3] = HBM_STATUS_NOT_FOUND;
        } else if (s->connected && s->host_addr != host_addr) {
            r[3] = HBM_STATUS_REJECTED;
        } else {
            s->connected = true;
            s->host_addr = host_addr;
            s->host_credits = 0;
            s->rx_len = 0;
            s->reply_len = 0;
        }
        zan_mei_send(s, 0, 0, r, 4);
        if (r[3] == HBM_STATUS_SUCCESS) {
            zan_mei_flow_credit(s);
        }
        break;
    case HBM_DISCONNECT_REQ:
        r[1] = me_addr;
        r[2] = host_addr;
        if (!mkhi_here) {
            r[3] = HBM_STATUS_NOT_FOUND;
        } else if (s->connected && s->host_addr == host_addr) {
            s->connected = false;
        }
        zan_mei_send(s, 0, 0, r, 4);
        break;
    case HBM_FLOW_CONTROL:
        if (s->connected && mkhi_here && host_addr == s->host_addr) {
            s->host_credits++;
            zan_mei_try_reply(s);
        } else {
            trace_zan_mei_unexpected("flow control for no connection", me_addr);
        }
        break;
    case HBM_DISCONNECT_RES:
        /* the ME never asks to disconnect, so nothing waits for this */
        break;
    default:
        trace_zan_mei_unexpected("unknown bus message", cmd);
        break;
    }
}

/* Takes every whole message out of the host buffer. */
static void zan_mei_consume(ZanMeiState *s)
{
    while (s->h_wp != s->h_rp) {
        uint8_t filled = s->h_wp - s->h_rp;
        uint32_t hdr = s->h_cb[s->h_rp % ZAN_MEI_H_DEPTH];
        uint32_t len = ZAN_MEI_HDR_LEN(hdr);
        uint32_t n = zan_mei_fragment_slots(hdr);
        uint8_t data[4 * ZAN_MEI_H_DEPTH];
        uint32_t i;

        if (n > ZAN_MEI_H_DEPTH || ZAN_MEI_HDR_RESERVED(hdr) ||
            (hdr & 0x30000000u)) {
            /* nothing the driver sends in this mode: drop it all */
            trace_zan_mei_unexpected("bad host message header", hdr);
            s->h_rp = s->h_wp;
            return;
        }
        if (n > filled) {
            return;     /* the rest is still being written */
        }
        for (i = 1; i < n; i++) {
            uint32_t word = cpu_to_le32(s->h_cb[(uint8_t)(s->h_rp + i) %
                                                ZAN_MEI_H_DEPTH]);

            memcpy(data + 4 * (i - 1), &word, 4);
        }
        s->h_rp += n;
        if (ZAN_MEI_HDR_ME(hdr) == 0 && ZAN_MEI_HDR_HOST(hdr) == 0) {
            zan_mei_bus_message(s, data, len);
        } else {
            zan_mei_client_message(s, hdr, data, len);
        }
    }
}

/* What the ME does when the host asserts reset: forget everything. */
static void zan_mei_me_reset(ZanMeiState *s)
{
    s->h_wp = s->h_rp = 0;
    s->me_wp = s->me_rp = 0;
    s->out_len = 0;
    s->connected = false;
    s->host_credits = 0;
    s->rx_len = 0;
    s->reply_len = 0;
    trace_zan_mei_me_reset();
}

static uint32_t zan_mei_h_csr_value(ZanMeiState *s)
{
    return (ZAN_MEI_H_DEPTH << 24) | (s->h_wp << 16) | (s->h_rp << 8) |
           (s->h_csr & (ZAN_MEI_H_CSR_HOST_BITS | ZAN_MEI_CSR_IS));
}

static void zan_mei_h_csr_write(ZanMeiState *s, uint32_t val)
{
    bool reset_edge = (val & ZAN_MEI_CSR_RST) && !(s->h_csr & ZAN_MEI_CSR_RST);

    /* IS is write-one-to-clear; it must go before any new cause is raised */
    if (val & ZAN_MEI_CSR_IS) {
        s->h_csr &= ~ZAN_MEI_CSR_IS;
    }
    s->h_csr = (s->h_csr & ~ZAN_MEI_H_CSR_HOST_BITS) |
               (val & ZAN_MEI_H_CSR_HOST_BITS);
    if (reset_edge) {
        /* the host is not ready while it resets the link */
        s->h_csr &= ~ZAN_MEI_CSR_RDY;
        zan_mei_me_reset(s);
        s->me_ready = true;
        zan_mei_interrupt(s);
    } else if (val & ZAN_MEI_CSR_IG) {
        uint8_t before = s->h_rp;

        zan_mei_consume(s);
        /* the driver writes again only once told its buffer was emptied */
        if (s->h_rp != before) {
            zan_mei_interrupt(s);
        }
        zan_mei_pump(s);
    }
    zan_mei_update_irq(s);
}

static uint64_t zan_mei_mmio_read(void *opaque, hwaddr addr, unsigned size)
{
    ZanMeiState *s = opaque;
    uint32_t val = 0;

    switch (addr) {
    case ZAN_MEI_H_CSR:
        val = zan_mei_h_csr_value(s);
        break;
    case ZAN_MEI_ME_CB_RW:
        if (s->me_rp != s->me_wp) {
            val = s->me_cb[s->me_rp++ % ZAN_MEI_ME_DEPTH];
        }
        break;
    case ZAN_MEI_ME_CSR_HA:
        val = (ZAN_MEI_ME_DEPTH << 24) | (s->me_wp << 16) | (s->me_rp << 8) |
              (s->me_ready ? ZAN_MEI_CSR_RDY : 0);
        break;
    default:
        break;
    }
    trace_zan_mei_read(addr, val);
    return val;
}

static void zan_mei_mmio_write(void *opaque, hwaddr addr, uint64_t v,
                               unsigned size)
{
    ZanMeiState *s = opaque;
    uint32_t val = v;

    trace_zan_mei_write(addr, val);
    switch (addr) {
    case ZAN_MEI_H_CB_WW:
        if ((uint8_t)(s->h_wp - s->h_rp) >= ZAN_MEI_H_DEPTH) {
            trace_zan_mei_unexpected("host buffer overrun", val);
            break;
        }
        s->h_cb[s->h_wp++ % ZAN_MEI_H_DEPTH] = val;
        break;
    case ZAN_MEI_H_CSR:
        zan_mei_h_csr_write(s, val);
        break;
    default:
        /* ME_CB_RW and ME_CSR_HA are read-only for the host */
        break;
    }
}

static const MemoryRegionOps zan_mei_mmio_ops = {
    .read = zan_mei_mmio_read,
    .write = zan_mei_mmio_write,
    .valid.min_access_size = 4,
    .valid.max_access_size = 4,
    .impl.min_access_size = 4,
    .impl.max_access_size = 4,
    .endianness = DEVICE_LITTLE_ENDIAN,
};

static void zan_mei_config_write(PCIDevice *pdev, uint32_t addr, uint32_t val,
                                 int len)
{
    pci_default_write_config(pdev, addr, val, len);
    /* switching MSI on or off moves the interrupt between line and message */
    zan_mei_update_irq(ZAN_MEI(pdev));
}

static bool zan_mei_parse_version(const char *text, uint16_t out[4])
{
    unsigned long v;
    const char *p = text;
    char *end;
    int f;

    for (f = 0; f < 4; f++) {
        if (!qemu_isdigit(*p)) {
            return false;
        }
        errno = 0;
        v = strtoul(p, &end, 10);
        if (errno || v > 0xFFFF || *end != (f == 3 ? '\0' : '.')) {
            return false;
        }
        out[f] = v;
        p = end + 1;
    }
    return true;
}

static void zan_mei_reset(DeviceState *d)
{
    ZanMeiState *s = ZAN_MEI(d);

    zan_mei_me_reset(s);
    s->h_csr = 0;
    s->me_ready = true;
    s->irq_level = false;
    pci_set_irq(PCI_DEVICE(s), 0);
}

static void zan_mei_realize(PCIDevice *pdev, Error **errp)
{
    ZanMeiState *s = ZAN_MEI(pdev);
    const char *version = s->fw_version_text ? s->fw_version_text
                                             : "12.0.49.1534";

    if (!zan_mei_parse_version(version, s->fw_version)) {
        error_setg(errp, "zan-mei: fw-version '%s' is not a.b.c.d (each 0 to "
                   "65535)", version);
        return;
    }
    if (s->log_path && s->log_path[0]) {
        s->log = fopen(s->log_path, "a");
        if (!s->log) {
            error_setg_errno(errp, errno, "zan-mei: cannot open log file '%s'",
                             s->log_path);
            return;
        }
    }
    pdev->config[PCI_INTERRUPT_PIN] = 1;
    pci_set_long(pdev->config + ZAN_MEI_CFG_HFS_1, ZAN_MEI_HFS_1_VALUE);
    memory_region_init_io(&s->mmio, OBJECT(s), &zan_mei_mmio_ops, s,
                          "zan-mei-mmio", ZAN_MEI_MMIO_SIZE);
    pci_register_bar(pdev, 0, PCI_BASE_ADDRESS_SPACE_MEMORY |
                     PCI_BASE_ADDRESS_MEM_TYPE_64, &s->mmio);
    /* at 0x8C, as on the real function: 0x40 and up hold firmware status */
    if (msi_init(pdev, ZAN_MEI_MSI_OFFSET, 1, true, false, errp) < 0) {
        if (s->log) {
            fclose(s->log);
            s->log = NULL;
        }
        return;
    }
    zan_mei_reset(DEVICE(s));
}

static void zan_mei_exit(PCIDevice *pdev)
{
    ZanMeiState *s = ZAN_MEI(pdev);

    msi_uninit(pdev);
    if (s->log) {
        fclose(s->log);
        s->log = NULL;
    }
}

static Property zan_mei_properties[] = {
    DEFINE_PROP_STRING("fw-version", ZanMeiState, fw_version_text),
    DEFINE_PROP_UINT8("result", ZanMeiState, result, 0),
    DEFINE_PROP_UINT32("records", ZanMeiState, records, 1),
    DEFINE_PROP_BOOL("mkhi", ZanMeiState, mkhi, true),
    DEFINE_PROP_STRING("log", ZanMeiState, log_path),
    DEFINE_PROP_END_OF_LIST(),
};

static void zan_mei_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);
    PCIDeviceClass *k = PCI_DEVICE_CLASS(klass);

    k->realize = zan_mei_realize;
    k->exit = zan_mei_exit;
    k->config_write = zan_mei_config_write;
    k->vendor_id = PCI_VENDOR_ID_INTEL;
    k->device_id = ZAN_MEI_DEVICE_ID;
    k->revision = 0;
    k->class_id = PCI_CLASS_COMMUNICATION_OTHER;
    dc->reset = zan_mei_reset;
    dc->desc = "ZAN board ME interface (HECI, MKHI image version)";
    device_class_set_props(dc, zan_mei_properties);
    set_bit(DEVICE_CATEGORY_MISC, dc->categories);
}

static const TypeInfo zan_mei_info = {
    .name          = TYPE_ZAN_MEI,
    .parent        = TYPE_PCI_DEVICE,
    .instance_size = sizeof(ZanMeiState),
    .class_init    = zan_mei_class_init,
    .interfaces    = (InterfaceInfo[]) {
        { INTERFACE_CONVENTIONAL_PCI_DEVICE },
        { },
    },
};

static void zan_mei_register_types(void)
{
    type_register_static(&zan_mei_info);
}

type_init(zan_mei_register_types)
