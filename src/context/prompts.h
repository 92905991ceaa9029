// The three command prompts and the system identifier of the greeting.
#pragma once

namespace orn {

constexpr const char* kFullPrompt = "(A,B,C,D,F,G,G?,H,I,J,K,L,M,N,R,S,T,U,V,W,X,Y,Z)>\r";
// Also the mark of a restricted session.
constexpr const char* kRestrictedPrompt = "(B,H,F,G,G?,KM,LM,RM,S,SP,T,V)>\r";
constexpr const char* kExpertPrompt = ">\r";
constexpr const char* kSystemId = "[ORN-7.10-ABFHMR$]";

}  // namespace orn
