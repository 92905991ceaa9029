// The three command prompts and the system identifier of the greeting.
#pragma once

namespace orn {

constexpr const char* kFullPrompt = "(A,B,C,D,F,G,G?,H,I,J,K,L,M,N,R,S,T,U,V,W,X,Y,Z)>\r";
// Also the mark of a restricted session.
constexpr const char* kRestrictedPrompt = "(B,H,F,G,G?,KM,LM,RM,S,SP,T,V)>\r";
constexpr const char* kExpertPrompt = ">\r";
// Other BBSes read its letters: "B1" asks for compressed blocks with a CRC
// that resume after a broken link; partners offering only "B" still get B0.
constexpr const char* kSystemId = "[ORN-7.10-AB1FHMR$]";

}  // namespace orn
