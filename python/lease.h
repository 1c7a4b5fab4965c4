// zl.Lease: a lease of one database in the Naming Service (broker/
// naming_lease.h), for campaigns whose workers share a pool of databases.
//
// Each instance owns its NamingLease and a lock that makes its calls run one
// at a time; every call releases the interpreter lock around its remote
// calls.
#ifndef ZL_PYTHON_LEASE_H_
#define ZL_PYTHON_LEASE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

extern PyTypeObject LeaseType;

// Readies LeaseType: 0, or -1 with a Python error set.
int ReadyLeaseType();

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_LEASE_H_
