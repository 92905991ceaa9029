// The fields of a user record the sysop may set, by the names they have in
// the record (UserDB): how each is checked and how it is read and written.
// One table for every editor of users, so that a value refused by one is
// refused by all.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "store/records.h"

namespace orn {

// Fields set and their values (as SetUserField took them), in the order set.
using UserChanges = std::vector<std::pair<std::string, std::string>>;

// The settable fields in record order, the connect entries as
// "Hcon[0].hours" ... "Hcon[9].flag".
const std::vector<std::string>& UserFieldNames();

// The field's name as the table spells it, for a name typed in any case;
// empty when there is no such field.
std::string UserFieldName(const std::string& typed);

// The field's value as text: texts as stored (FwdDest with its CR LF line
// ends), numbers in decimal, FwdKind and Hcon[n].flag as their letter.
// Empty for an unknown name.
std::string GetUserField(const UserDB& u, const std::string& name);
// True for the fields that hold a number (their JSON value is a number).
bool UserFieldIsNumber(const std::string& name);

// Checks `value` (in the stored code page) and writes it into `u`. Letters
// and the upper-case texts (HomeBbs, HierAddress, Language) are upper-cased
// first; Language is a name without a path, Hcon[n].expfile a file below the
// BBS directory; FwdDest takes its lines separated by LF, CR LF or a typed "\n" and
// stores each with CR LF. Returns the reason a value is refused, beginning
// with the field's name; empty when it was written. A field of a connect
// entry may be set empty (the entry is not used).
std::string SetUserField(UserDB& u, const std::string& name, const std::string& value);

}  // namespace orn
