// libiscsi's context set-up refers to its iSER (RDMA) transport, whose code
// needs the RDMA libraries, and those come only as shared libraries.  The
// service links libiscsi statically and speaks iSCSI over TCP alone: this
// definition takes the place of the iSER transport, so that neither its
// code nor those libraries are linked.
//
// Why that is safe: libiscsi calls this only when a context is asked for the
// iSER transport (an "iser://" URL, or iscsi_init_transport with it), and the
// service never asks for it: its contexts come from iscsi_create_context,
// which sets up TCP.  Should a later libiscsi need another symbol of its iSER
// code, the linker would take that code as well and fail on two definitions
// of this function: the build breaks, nothing changes silently.
struct iscsi_context;

extern "C" int iscsi_init_iser_transport(struct iscsi_context *)
{
    return -1;  // no iSER here
}
