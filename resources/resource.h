/* Resource and control identifiers of the Torvane dialog. Shared by the
   dialog template (torvane.rc) and the C++ code, so it stays plain C
   preprocessor definitions. */
#ifndef TORVANE_RESOURCE_H
#define TORVANE_RESOURCE_H

#define IDD_TORVANE 101
#define IDI_TORVANE 102

/* The six value fields (the field list) and the status field. */
#define IDC_FIELD_X 1000
#define IDC_FIELD_Y 1001
#define IDC_FIELD_Z 1002
#define IDC_FIELD_A 1003
#define IDC_FIELD_B 1005
#define IDC_FIELD_ANS 1006
#define IDC_STATUS 1007

#define IDC_ABOUT 1008
#define IDC_EXIT 1009

/* Base radio buttons; note 1017 is base 60 and 1018 base 36. */
#define IDC_BASE_2 1013
#define IDC_BASE_8 1014
#define IDC_BASE_10 1015
#define IDC_BASE_16 1016
#define IDC_BASE_60 1017
#define IDC_BASE_36 1018
#define IDC_BASE_64 1019
#define IDC_BASE_256 1020

/* Operation buttons. */
#define IDC_OP_ADD 1039
#define IDC_OP_SUB 1040
#define IDC_OP_MUL 1041
#define IDC_OP_DIV 1042
#define IDC_OP_POWER 1043
#define IDC_OP_ROOT 1044
#define IDC_OP_MODDIV 1045
#define IDC_OP_POWMOD 1046
#define IDC_OP_LINEAR_MOD 1047
#define IDC_OP_POWMOD2 1048
#define IDC_OP_FACTORIAL 1049
#define IDC_OP_GCD 1050
#define IDC_OP_PRODUCT 1051
#define IDC_OP_POWER_SUM 1052
#define IDC_OP_PRIME 1053

/* Clearing and copying. */
#define IDC_CLEAR_ALL 1060
#define IDC_CL_X 1061
#define IDC_CL_Y 1062
#define IDC_CL_Z 1063
#define IDC_CL_A 1064
#define IDC_CL_B 1065
#define IDC_CL_ANS 1067
#define IDC_TO_X 1068

/* The expression line and its label, beside the dialog's own controls and
   made by the program at run time (ids outside the template's). */
#define IDC_EXPRESSION 1080
#define IDC_EXPRESSION_LABEL 1081

#endif
